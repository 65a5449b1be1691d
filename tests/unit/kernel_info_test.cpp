// Kernel info records: the record size of each version, and the records a load reads from the
// kernels' "<kernel>_kernel_info" globals over the fake driver.
#include "memory_fake_driver.h"
#include "program/kernel_info.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <regex>

using namespace memtest;
using namespace progtest;

namespace {

// A device record as bytes, written field by field in host byte order.
struct RecordBytes {
  std::vector<uint8_t> Bytes;
  RecordBytes &u32(uint32_t V) { return put(&V, sizeof(V)); }
  RecordBytes &u64(uint64_t V) { return put(&V, sizeof(V)); }
  RecordBytes &put(const void *P, size_t N) {
    const uint8_t *B = static_cast<const uint8_t *>(P);
    Bytes.insert(Bytes.end(), B, B + N);
    return *this;
  }
  // The manifest line of the kernel's info global; Extra bytes of 0xEE follow the record so
  // that a read past the record's own size changes what is decoded.
  std::string global(const std::string &Kernel, size_t Extra = 16) const {
    std::string Hex;
    char Two[3];
    for (uint8_t B : Bytes) {
      std::snprintf(Two, sizeof(Two), "%02x", B);
      Hex += Two;
    }
    for (size_t I = 0; I < Extra; ++I)
      Hex += "ee";
    return "global " + Kernel + "_kernel_info " + std::to_string(Bytes.size() + Extra) +
           " init=" + Hex + "\n";
  }
};

std::string describe(const KernelInfoTy &Info) {
  std::string Text = "v=" + std::to_string(Info.Version) + " attr=" +
                     std::to_string(Info.Attributes) + " teams=" +
                     std::to_string(Info.MaxTeamCount) + " size=" +
                     std::to_string(Info.MaxTeamSize) + " args=";
  for (const KernelArgInfoTy &Arg : Info.Args)
    Text += std::to_string(Arg.ByValue) + ":" + std::to_string(Arg.ArgSize) + ",";
  return Text;
}

// Each global the plugin read and the byte counts it copied from it, in order: a copy follows the
// address query of its global in the call record.
std::vector<std::string> readsOf(const std::string &Log) {
  std::vector<std::string> Reads;
  std::regex Query("^clGetDeviceGlobalVariablePointerTARNO\\([^\"]*\"([^\"]*_kernel_info)\"");
  std::regex Copy("^clEnqueueMemcpyTARNO\\(0x[0-9a-f]+, 1, 0x[0-9a-f]+, 0x[0-9a-f]+, ([0-9]+),");
  std::string Pending;
  for (const std::string &Line : splitLines(Log)) {
    std::smatch M;
    if (std::regex_search(Line, M, Query))
      Pending = M[1];
    else if (!Pending.empty() && std::regex_search(Line, M, Copy)) {
      Reads.push_back(Pending + " " + std::string(M[1]));
      Pending.clear();
    }
  }
  return Reads;
}

// Loads the module with one host entry per kernel, in the child with the plugin linked in, and
// prints each kernel's stored record (or "none"), then each kernel info read from the call log.
ChildResult loadAndDescribe(const std::string &Manifest, const std::vector<std::string> &Kernels,
                            const std::function<void(OpenCLProgramTy &)> &After = nullptr) {
  return runLinked(OneGPU, "", nullptr, [&](const fakecl::Client &Fake) {
    std::vector<uint8_t> Bytes = spirvModule(Manifest);
    HostEntries Host;
    for (const std::string &Kernel : Kernels)
      Host.add(Kernel.c_str());
    DeviceImage Image = imageOf(Bytes, Host);
    if (!__tgt_rtl_load_binary(0, &Image))
      return 7;
    OpenCLProgramTy &Program = DeviceInfo->Programs[0].back();
    for (size_t I = 0; I < Kernels.size(); ++I) {
      auto Found = Program.KernelInfo.find(Program.Kernels[I]);
      std::printf("%s %s\n", Kernels[I].c_str(),
                  Found == Program.KernelInfo.end() ? "none" : describe(Found->second).c_str());
    }
    for (const std::string &Read : readsOf(Fake.callLog()))
      std::printf("read %s\n", Read.c_str());
    if (After)
      After(Program);
    return 0;
  });
}

} // namespace

TEST(KernelInfo, RecordSizesPerVersionWithoutOverflow) {
  EXPECT_EQ(kernelInfoRecordSize(1, 3), 32u);
  EXPECT_EQ(kernelInfoRecordSize(2, 3), 40u);
  EXPECT_EQ(kernelInfoRecordSize(3, 3), 48u);
  EXPECT_EQ(kernelInfoRecordSize(4, 2), 48u);
  EXPECT_EQ(kernelInfoRecordSize(5, 2), 48u);
  EXPECT_EQ(kernelInfoRecordSize(0, 2), 0u);
  EXPECT_EQ(kernelInfoRecordSize(6, 2), 0u);
  EXPECT_EQ(kernelInfoRecordSize(4, 0xFFFFFFFFu), 32u + 8u * 0xFFFFFFFFull);

  KernelInfoTy Short;
  Short.Args = {{true, 8}};
  EXPECT_TRUE(Short.isArgByValue(0));
  EXPECT_FALSE(Short.isArgByValue(1)); // past the record's arguments
}

TEST(KernelInfo, EachVersionReadsItsSizeAndFields) {
  std::string Manifest = "kernel k1\nkernel k2\nkernel k3\nkernel k4\nkernel k5\nkernel kshort\n"
                         "kernel knone\n";
  Manifest += RecordBytes().u32(1).u32(3).u32(1).u32(8).u32(0).u32(8).u32(7).u32(4).global("k1");
  Manifest += RecordBytes().u32(2).u32(1).u32(0).u32(8).u64(0x3).global("k2");
  Manifest += RecordBytes()
                  .u32(3).u32(2).u32(1).u32(8).u32(1).u32(8)
                  .u64(0x1).u32(7).u32(0xDDDDDDDD)
                  .global("k3");
  Manifest += RecordBytes()
                  .u32(4).u32(2).u32(0).u32(8).u32(1).u32(16)
                  .u64(0x2).u32(16).u32(0xDDDDDDDD).u32(64).u32(0xDDDDDDDD)
                  .global("k4");
  Manifest += RecordBytes()
                  .u32(5).u32(2).u32(0).u32(8).u32(1).u32(16)
                  .u64(0x2).u32(16).u32(0xDDDDDDDD).u32(64).u32(0xDDDDDDDD)
                  .global("k5");
  // Fewer arguments than the kernel has: the record just lists the first.
  Manifest += RecordBytes().u32(1).u32(1).u32(1).u32(4).global("kshort");

  ChildResult R =
      loadAndDescribe(Manifest, {"k1", "k2", "k3", "k4", "k5", "kshort", "knone"});
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(splitLines(R.Stdout),
            (std::vector<std::string>{
                "k1 v=1 attr=0 teams=0 size=0 args=1:8,0:8,1:4,",
                "k2 v=2 attr=3 teams=0 size=0 args=0:8,",
                "k3 v=3 attr=1 teams=7 size=0 args=1:8,1:8,",
                "k4 v=4 attr=2 teams=16 size=64 args=0:8,1:16,",
                "k5 v=5 attr=2 teams=16 size=64 args=0:8,1:16,",
                "kshort v=1 attr=0 teams=0 size=0 args=1:4,",
                "knone none",
                "read k1_kernel_info 8", "read k1_kernel_info 32",
                "read k2_kernel_info 8", "read k2_kernel_info 24",
                "read k3_kernel_info 8", "read k3_kernel_info 40",
                "read k4_kernel_info 8", "read k4_kernel_info 48",
                "read k5_kernel_info 8", "read k5_kernel_info 48",
                "read kshort_kernel_info 8", "read kshort_kernel_info 16",
            }));
}

TEST(KernelInfo, FirstRecordOfAHandleIsKept) {
  std::string Manifest =
      "kernel k\n" + RecordBytes().u32(1).u32(1).u32(1).u32(8).global("k");
  ChildResult R = loadAndDescribe(Manifest, {"k"}, [](OpenCLProgramTy &Program) {
    // The device record changes; reading it again under the same handle keeps the first.
    fakecl::Client Fake(FAKECL_PATH);
    auto *Words = static_cast<uint32_t *>(Fake.findGlobal("k_kernel_info"));
    Words[0] = 2;  // version 2: the attributes follow the argument
    Words[2] = 0;  // not by value
    Words[4] = 16; // attributes, low and high word
    Words[5] = 0;
    const OffloadEntry &Entry = Program.OffloadEntries[0];
    bool Again = Program.readKernelInfo(Entry);
    std::printf("again %d %s\n", Again, describe(Program.KernelInfo.at(Program.Kernels[0])).c_str());
    // Without the stored record the new one is taken.
    Program.KernelInfo.clear();
    Program.readKernelInfo(Entry);
    std::printf("fresh %s\n", describe(Program.KernelInfo.at(Program.Kernels[0])).c_str());
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  std::vector<std::string> Lines = splitLines(R.Stdout);
  ASSERT_EQ(Lines.size(), 5u) << R.Stdout;
  EXPECT_EQ(Lines[3], "again 1 v=1 attr=0 teams=0 size=0 args=1:8,");
  EXPECT_EQ(Lines[4], "fresh v=2 attr=16 teams=0 size=0 args=0:8,") << R.Stdout;
}

TEST(KernelInfo, WildArgumentCountIsIgnoredWithoutReadingFurther) {
  std::string Manifest =
      "kernel k\nkernel j\n" + RecordBytes().u32(4).u32(0xFFFFFFFF).u32(1).u32(8).global("k") +
      RecordBytes().u32(1).u32(KernelInfoMaxArgs + 1).global("j");
  ChildResult R = loadAndDescribe(Manifest, {"k", "j"});
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(splitLines(R.Stdout),
            (std::vector<std::string>{"k none", "j none", "read k_kernel_info 8",
                                      "read j_kernel_info 8"}));
}

TEST(KernelInfo, UnusableVersionsFailTheLoad) {
  struct Case {
    uint32_t Version;
    std::vector<std::string> Lines;
  } Cases[] = {
      {0, {"Error: version 0 of kernel info structure is illegal."}},
      {6,
       {"Error: unsupported version (6) of kernel info structure.",
        "Error: please use newer OpenMP offload runtime."}},
  };
  for (const Case &C : Cases) {
    std::string Manifest =
        "kernel k\n" + RecordBytes().u32(C.Version).u32(1).u32(1).u32(8).global("k");
    ChildResult R = runPlugin(OneGPU, "", {{"LIBOMPTARGET_DEBUG", "1"}},
                              [&](HostPlugin &P, const fakecl_control_v1 &) {
                                std::vector<uint8_t> Bytes = spirvModule(Manifest);
                                HostEntries Host;
                                Host.add("k");
                                DeviceImage Image = imageOf(Bytes, Host);
                                return P.load_binary(0, &Image) ? 7 : 0;
                              });
    EXPECT_EQ(R.ExitStatus, 0) << "version " << C.Version << "\n" << R.Stderr;
    for (const std::string &Line : C.Lines)
      EXPECT_TRUE(hasLine(R.Stderr, Prefix + Line)) << Line << "\n" << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Error: failed to read kernel info for kernel k"))
        << R.Stderr;
  }
}
