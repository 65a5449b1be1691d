// Profiling timers against the fake driver's scripted clocks, with the plugin linked in so that
// the calling thread's records can be read directly; and the profiles printed at shutdown.
#include "memory_fake_driver.h"
#include "profile/profiling_timer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace memtest;

namespace {

std::string warning(const char *Why) {
  return "Target OPENCL RTL --> Warning: profiling timer 'T' for OpenMP device (0) G is disabled "
         "due to " + std::string(Why) + ".";
}

// The record "T" of the calling thread, or "none".
void printRecord() {
  const auto &Records = DeviceInfo->getProfile(0).Records;
  auto It = Records.find("T");
  if (It == Records.end())
    std::printf("none\n");
  else
    std::printf("host=%.0f device=%.0f\n", It->second.HostTime, It->second.DeviceTime);
}

} // namespace

TEST(ProfileTimer, StatesClocksAndWarnings) {
  struct Case {
    const char *Title;
    std::string Script; // applied after initialisation
    std::function<void(ProfilingTimer &)> Use;
    std::string Record;
    const char *Warning; // null: no warning at all
    size_t ClockReads;
  } Cases[] = {
      {"start and stop twice: intervals add up",
       "timer device=100 host=1000\ntimer device=400 host=1500\n"
       "timer device=1000 host=2000\ntimer device=1100 host=2600\n",
       [](ProfilingTimer &T) { T.start(); T.stop(); T.start(); T.stop(); },
       "host=1100 device=400", nullptr, 4},
      {"never started: a record of zeros", "", [](ProfilingTimer &) {}, "host=0 device=0",
       nullptr, 0},
      {"double start", "", [](ProfilingTimer &T) { T.start(); T.start(); T.stop(); }, "none",
       "start/stop mismatch", 1},
      {"stop without start", "", [](ProfilingTimer &T) { T.stop(); T.start(); }, "none",
       "start/stop mismatch", 0},
      {"destroyed while running", "", [](ProfilingTimer &T) { T.start(); }, "none",
       "start/stop mismatch", 1},
      {"device clock going backwards", "timer device=500 host=100\ntimer device=400 host=200\n",
       [](ProfilingTimer &T) { T.start(); T.stop(); }, "none", "timer overflow", 2},
      {"host clock going backwards", "timer device=500 host=300\ntimer device=600 host=200\n",
       [](ProfilingTimer &T) { T.start(); T.stop(); }, "none", "timer overflow", 2},
      {"clock fails at start", "fail clGetDeviceAndHostTimer nth=1 err=-59\n",
       [](ProfilingTimer &T) { T.start(); T.stop(); }, "none", "invalid OpenCL timer", 1},
      {"clock fails at stop", "fail clGetDeviceAndHostTimer nth=2 err=-59\n",
       [](ProfilingTimer &T) { T.start(); T.stop(); }, "none", "invalid OpenCL timer", 2},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    ChildResult R = runLinked(
        OneGPU, C.Script, [] { DeviceInfo->Option.Flags |= OptionFlagProfile; },
        [&C](const fakecl::Client &Fake) {
          {
            ProfilingTimer T("T", 0);
            C.Use(T);
          }
          printRecord();
          std::printf("reads=%zu\n", Fake.callCount("clGetDeviceAndHostTimer"));
          return 0;
        });
    EXPECT_EQ(R.Stdout, C.Record + "\nreads=" + std::to_string(C.ClockReads) + "\n") << R.Stderr;
    size_t Warnings = 0;
    for (const std::string &Line : splitLines(R.Stderr))
      Warnings += Line.find("Warning: profiling timer") != std::string::npos;
    EXPECT_EQ(Warnings, C.Warning ? 1u : 0u) << R.Stderr;
    if (C.Warning) {
      EXPECT_TRUE(hasLine(R.Stderr, warning(C.Warning))) << R.Stderr;
    }
  }
}

TEST(ProfileTimer, ProfilingOffReadsNoClockAndRecordsNothing) {
  ChildResult R = runLinked(OneGPU, "", nullptr, [](const fakecl::Client &Fake) {
    {
      ProfilingTimer T("T", 0);
      T.start();
      T.start(); // a mismatch, but a disabled timer says nothing
      T.stop();
    }
    printRecord();
    std::printf("reads=%zu\n", Fake.callCount("clGetDeviceAndHostTimer"));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "none\nreads=0\n");
  EXPECT_EQ(R.Stderr, "");
}

TEST(ProfileTimer, FailedAllocationLeavesItsTimerRunning) {
  // The allocation timer stops only on success: a failed allocation reports the mismatch.
  ChildResult R = runPlugin(OneGPU, "fail clDeviceMemAllocTARNO nth=1 err=-6",
                            {{"LIBOMPTARGET_PLUGIN_PROFILE", "T"}},
                            [](HostPlugin &P, const fakecl_control_v1 &) {
                              std::printf("%d\n", P.data_alloc(0, 8, nullptr, 0) == nullptr);
                              return 0;
                            });
  EXPECT_EQ(R.Stdout, "1\n");
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Warning: profiling timer 'DataAlloc' for "
                                "OpenMP device (0) G is disabled due to start/stop mismatch."))
      << R.Stderr;
}

TEST(ProfileTimer, ShutdownPrintsEachDeviceAndThreadInOrder) {
  // Device 0 is used by two threads, device 1 by the second only.
  ChildResult R = runPlugin(TwoGPUs, "", {{"LIBOMPTARGET_PLUGIN_PROFILE", "T,usec"}},
                            [](HostPlugin &P, const fakecl_control_v1 &) {
    char Host[8] = {};
    void *Dev = P.data_alloc(0, sizeof(Host), nullptr, 0);
    P.data_submit(0, Dev, Host, sizeof(Host));
    std::thread Other([&] {
      void *Dev1 = P.data_alloc(1, sizeof(Host), nullptr, 0);
      P.data_retrieve(1, Host, Dev1, sizeof(Host));
      P.data_retrieve(0, Host, Dev, sizeof(Host));
    });
    Other.join();
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  std::vector<std::string> Titles;
  for (const std::string &Line : splitLines(R.Stderr))
    if (Line.rfind("LIBOMPTARGET_PLUGIN_PROFILE", 0) == 0)
      Titles.push_back(Line);
  ASSERT_EQ(Titles.size(), 3u) << R.Stderr;
  // The thread numbers are the OpenMP runtime's: the main thread's first, then the other's.
  const std::string Dev0 = "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(0) G, Thread ";
  const std::string Dev1 = "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(1) H, Thread ";
  ASSERT_EQ(Titles[0].substr(0, Dev0.size()), Dev0);
  ASSERT_EQ(Titles[1].substr(0, Dev0.size()), Dev0);
  ASSERT_EQ(Titles[2].substr(0, Dev1.size()), Dev1);
  int Main = std::stoi(Titles[0].substr(Dev0.size()));
  int Second = std::stoi(Titles[1].substr(Dev0.size()));
  EXPECT_LT(Main, Second);
  EXPECT_EQ(std::stoi(Titles[2].substr(Dev1.size())), Second);
  // Default event times: 1300 ns queued to complete, 1000 ns start to end, per copy.
  EXPECT_TRUE(hasLine(R.Stderr, "-- DataWrite (Host to Device):                1.300"
                                "                1.000"))
      << R.Stderr;
  EXPECT_EQ(countLines(R.Stderr, "-- DataRead (Device to Host):                1.300"
                                 "                1.000"),
            2u)
      << R.Stderr;
}

TEST(ProfileTimer, FailedEventQueriesLeaveAnEmptyTable) {
  ChildResult R = runPlugin(OneGPU, "fail clGetEventProfilingInfo all err=-7",
                            {{"LIBOMPTARGET_PLUGIN_PROFILE", "1"}, {"LIBOMPTARGET_DEBUG", "1"}},
                            [](HostPlugin &P, const fakecl_control_v1 &Fake) {
                              static char Dev[4];
                              char Host[4] = {};
                              int Rc = P.data_submit(0, Dev, Host, sizeof(Host));
                              // The first failing query ends the update.
                              std::printf("%d %zu\n", Rc,
                                          Fake.call_count("clGetEventProfilingInfo"));
                              return 0;
                            });
  EXPECT_EQ(R.Stdout, "0 1\n");
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Warning: update:clGetEventProfilingInfo returned -7, "
                                         "CL_PROFILING_INFO_NOT_AVAILABLE"))
      << R.Stderr;
  std::vector<std::string> Lines = splitLines(R.Stderr);
  auto Title = std::find(Lines.begin(), Lines.end(),
                         "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(0) G, Thread 0");
  ASSERT_NE(Title, Lines.end()) << R.Stderr;
  std::vector<std::string> Table(Title, std::min(Title + 6, Lines.end()));
  EXPECT_EQ(Table, (std::vector<std::string>{
                       "LIBOMPTARGET_PLUGIN_PROFILE(OPENCL) for OMP DEVICE(0) G, Thread 0",
                       std::string(80, '-'), std::string(80, '-'),
                       "-- Name      :     Host Time (msec)   Device Time (msec)",
                       "-- Total     :                0.000                0.000",
                       std::string(80, '=')}));
}
