// The printed profile table, from records filled by hand.
#include "child_process.h"
#include "profile/profile_records.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> printed(const ThreadProfile &Profile, int32_t Device, int32_t Thread,
                                 const std::string &Name, uint64_t Unit) {
  ChildResult R = runInChild({}, [&] {
    printProfile(Profile, Device, Thread, Name, Unit);
    return 0;
  });
  EXPECT_EQ(R.ExitStatus, 0);
  EXPECT_EQ(R.Stdout, ""); // everything goes to standard error
  return splitLines(R.Stderr);
}

const std::string Equals(80, '='), Dashes(80, '-');

ThreadProfile mixedRecords() {
  ThreadProfile P;
  // Inserted out of order: the table follows byte-wise name order.
  P.Records["Kernel b"] = {100000, 50000};
  P.Records["Compiling"] = {1500000, 7000000}; // a timer: its device time is not printed
  P.Records["Kernel a_kernel_whose_name_is_longer_than_any_label"] = {3000000, 2000000};
  P.Records["Function pointers init"] = {250, 0};
  P.Records["DataWrite (Host to Device)"] = {2500000, 1250000};
  return P;
}

} // namespace

TEST(ProfilePrint, TwoKernelsAndLongNamesInMilliseconds) {
  std::vector<std::string> Expected = {
      Equals,
      "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(1) Fake GPU 0.1, Thread 7",
      Dashes,
      "-- Kernel 0                  : a_kernel_whose_name_is_longer_than_any_label",
      "-- Kernel 1                  : b",
      Dashes,
      "-- Name                      :     Host Time (msec)   Device Time (msec)",
      "-- Compiling                 :                1.500                0.000",
      "-- DataWrite (Host to Device):                2.500                1.250",
      "-- Function pointers init    :                0.000                0.000",
      "-- Kernel 0                  :                3.000                2.000",
      "-- Kernel 1                  :                0.100                0.050",
      "-- Total                     :                7.100                3.300",
      Equals,
  };
  EXPECT_EQ(printed(mixedRecords(), 1, 7, "Fake GPU 0.1", 1000), Expected);
}

TEST(ProfilePrint, TwoKernelsAndLongNamesInMicroseconds) {
  std::vector<std::string> Expected = {
      Equals,
      "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(0) G, Thread 0",
      Dashes,
      "-- Kernel 0                  : a_kernel_whose_name_is_longer_than_any_label",
      "-- Kernel 1                  : b",
      Dashes,
      "-- Name                      :     Host Time (usec)   Device Time (usec)",
      "-- Compiling                 :             1500.000                0.000",
      "-- DataWrite (Host to Device):             2500.000             1250.000",
      "-- Function pointers init    :                0.250                0.000",
      "-- Kernel 0                  :             3000.000             2000.000",
      "-- Kernel 1                  :              100.000               50.000",
      "-- Total                     :             7100.250             3300.000",
      Equals,
  };
  EXPECT_EQ(printed(mixedRecords(), 0, 0, "G", 1000000), Expected);
}

TEST(ProfilePrint, ShortNamesGiveTheMinimumWidthAndReadsShowDeviceTime) {
  ThreadProfile P;
  P.Records["Kernel k"] = {1e6, 1e6};
  P.Records["DataRead (Device to Host)"] = {1e6, 4e6};
  P.Records["Linking"] = {2e6, 2e6};
  std::vector<std::string> Lines = printed(P, 0, 3, "G", 1000);
  ASSERT_EQ(Lines.size(), 11u);
  EXPECT_EQ(Lines[5], "-- Name                     :     Host Time (msec)   Device Time (msec)");
  EXPECT_EQ(Lines[6], "-- DataRead (Device to Host):                1.000                4.000");
  P.Records.erase("DataRead (Device to Host)");
  Lines = printed(P, 0, 3, "G", 1000);
  std::vector<std::string> Expected = {
      Equals,
      "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(0) G, Thread 3",
      Dashes,
      "-- Kernel 0  : k",
      Dashes,
      "-- Name      :     Host Time (msec)   Device Time (msec)",
      "-- Kernel 0  :                1.000                1.000",
      "-- Linking   :                2.000                0.000",
      "-- Total     :                3.000                1.000",
      Equals,
  };
  EXPECT_EQ(Lines, Expected);
}

TEST(ProfilePrint, EmptyProfileStillPrintsHeaderAndTotal) {
  std::vector<std::string> Expected = {
      Equals,
      "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(2) X, Thread 1",
      Dashes,
      Dashes,
      "-- Name      :     Host Time (usec)   Device Time (usec)",
      "-- Total     :                0.000                0.000",
      Equals,
  };
  EXPECT_EQ(printed(ThreadProfile(), 2, 1, "X", 1000000), Expected);
}
