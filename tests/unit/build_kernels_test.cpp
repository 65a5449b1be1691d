// Device entries, kernels and their properties, the argument listing and device globals, loaded
// through __tgt_rtl_load_binary over the fake driver.
#include "memory_fake_driver.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

using namespace memtest;
using namespace progtest;

namespace {

EnvironmentList debugLevel(const char *Level) { return {{"LIBOMPTARGET_DEBUG", Level}}; }

// Loads Manifest with Host's entries through the shared plugin on one GPU; exit 7 when the load
// failed.
ChildResult loadShared(const std::string &Manifest, HostEntries &Host, const EnvironmentList &Env,
                       const std::string &Faults = "", const LoadedBody &Body = nullptr) {
  return progtest::loadShared(OneGPU, Manifest, Host, Env, Faults, Body);
}

std::string hex16(const void *Address) {
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "0x%016llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Address)));
  return Buf;
}

void expectLines(const ChildResult &R, const std::vector<std::string> &Lines) {
  for (const std::string &Line : Lines)
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + Line)) << Line << "\n" << R.Stderr;
}

// A module with every kind of entry, and the host table that goes with it.
const std::string EveryKind = "kernel k1 args=1\n"
                              "kernel k2\n"
                              "global g 8 init=0102030405060708\n"
                              "entry fn address=0xabc0 flags=8\n"
                              "entry g size=8 global=g\n";
uint64_t HostG = 0x1111111111111111;
uint32_t HostH = 0x44332211;

HostEntries everyKind() {
  HostEntries Host;
  Host.add("k1")
      .add("g", 8, 0, &HostG)
      .add("h", 4, 0, &HostH)
      .add("fn", 0, 8, reinterpret_cast<void *>(0x5000))
      .add(nullptr)
      .add("nokernel")
      .add("fmiss", 0, 8, reinterpret_cast<void *>(0x6000))
      .add("k2");
  return Host;
}

} // namespace

TEST(BuildKernels, DeviceEntriesForEveryKindOfHostEntry) {
  HostEntries Host = everyKind();
  ChildResult Linked = loadLinked(
      OneGPU, EveryKind, Host,
      [&Host](OpenCLProgramTy &P, TargetTable *T, const fakecl::Client &Fake) {
        if (!T)
          return 7;
        if (T->EntriesBegin != P.OffloadEntries.data() || T->EntriesEnd - T->EntriesBegin != 8)
          return 8;
        // Per entry: name is the host's pointer, size, flags, then where the address points.
        for (size_t I = 0; I < 8; ++I) {
          const OffloadEntry &E = T->EntriesBegin[I];
          std::string Where = hex16(E.address);
          if (E.address == &P.Kernels[I])
            Where = P.Kernels[I] ? "slot->kernel" : "slot->null";
          else if (E.address == Fake.findGlobal("g"))
            Where = "device g";
          else if (I == 2 && E.address && E.address != &HostH &&
                   std::memcmp(E.address, &HostH, sizeof(HostH)) == 0)
            Where = "copy of h";
          std::printf("%zu %d %llu %d %s\n", I, E.name == Host.Entries[I].name,
                      static_cast<unsigned long long>(E.size), E.flags, Where.c_str());
        }
        // Kernels have property records; the null slots have none.
        std::printf("%zu %zu\n", DeviceInfo->KernelProperties[0].size(),
                    DeviceInfo->KernelProperties[0].count(P.Kernels[7]));
        return 0;
      });
  EXPECT_EQ(Linked.ExitStatus, 0) << Linked.Stderr;
  EXPECT_EQ(Linked.Stdout, "0 1 0 0 slot->kernel\n"
                           "1 1 8 0 device g\n"
                           "2 1 4 0 copy of h\n"
                           "3 1 0 8 0x000000000000abc0\n"
                           "4 1 0 0 0x0000000000000000\n"
                           "5 1 0 0 slot->null\n"
                           "6 1 0 8 0x0000000000000000\n"
                           "7 1 0 0 slot->kernel\n"
                           "2 1\n");

  ChildResult Shared =
      loadShared(EveryKind, Host, debugLevel("1"), "", [](TargetTable &T, const fakecl_control_v1 &) {
        // The mapped globals' messages name both addresses.
        for (int I : {1, 2})
          std::printf("Global variable mapped: Name = %s, Size = %llu, HostPtr = %s, TgtPtr = %s\n",
                      T.EntriesBegin[I].name,
                      static_cast<unsigned long long>(T.EntriesBegin[I].size),
                      hex16(I == 1 ? static_cast<void *>(&HostG) : &HostH).c_str(),
                      hex16(T.EntriesBegin[I].address).c_str());
      });
  EXPECT_EQ(Shared.ExitStatus, 0) << Shared.Stderr;
  for (const std::string &Line : splitLines(Shared.Stdout))
    EXPECT_TRUE(hasLine(Shared.Stderr, Prefix + Line)) << Line << "\n" << Shared.Stderr;
  expectLines(Shared,
              {"Warning: global variable 'h' allocated. Direct references will not work properly.",
               "Returning device function pointer 0x000000000000abc0 for host function pointer "
               "0x0000000000005000",
               "Returning device function pointer 0x0000000000000000 for host function pointer "
               "0x0000000000006000",
               "Warning: Entry with a nullptr name!!!",
               "Error: buildKernels:clCreateKernel failed with error code -46, "
               "CL_INVALID_KERNEL_NAME",
               "Warning: Failed to create kernel nokernel, -46",
               "Warning: cannot find kernel nokernel"});
  EXPECT_FALSE(hasLine(Shared.Stderr, Prefix + "Warning: global variable 'g' allocated. Direct "
                                               "references will not work properly."));
  EXPECT_FALSE(hasLine(Shared.Stderr, Prefix + "Warning: cannot find kernel fn"));
}

TEST(BuildKernels, EmptyHostTableAndKernelsThatFailToCreate) {
  HostEntries None;
  ChildResult Empty = loadLinked(OneGPU, "kernel k", None,
                                 [](OpenCLProgramTy &P, TargetTable *T, const fakecl::Client &) {
                                   std::printf("%d %d %zu\n", T != nullptr,
                                               T && T->EntriesBegin == T->EntriesEnd,
                                               P.Kernels.size());
                                   return 0;
                                 });
  EXPECT_EQ(Empty.ExitStatus, 0) << Empty.Stderr;
  EXPECT_EQ(Empty.Stdout, "1 1 0\n");

  // The first creation fails in the driver: its slot stays null and the load goes on.
  HostEntries Host;
  Host.add("a").add("b");
  ChildResult Failed = loadLinked(
      OneGPU, "kernel a\nkernel b", Host,
      [](OpenCLProgramTy &P, TargetTable *T, const fakecl::Client &Fake) {
        std::printf("%d %d %d %zu %zu\n", T != nullptr, P.Kernels[0] == nullptr,
                    P.Kernels[1] != nullptr, Fake.liveObjects("kernel"),
                    DeviceInfo->KernelProperties[0].size());
        return 0;
      },
      "fail clCreateKernel nth=1 err=-6");
  EXPECT_EQ(Failed.ExitStatus, 0) << Failed.Stderr;
  EXPECT_EQ(Failed.Stdout, "1 1 1 1 1\n");
}

TEST(BuildKernels, GroupWidthsFollowSubGroupSizeAndArchitecture) {
  HostEntries Host;
  Host.add("a").add("b").add("c");
  const std::string Manifest = "kernel a pwgm=32 maxsg=0 wgsize=128\n"
                               "kernel b pwgm=16 maxsg=32 wgsize=512\n"
                               "kernel c pwgm=64 maxsg=16\n";
  for (uint64_t Arch : {0, 1, 2}) {
    SCOPED_TRACE(Arch);
    ChildResult R = runLinked(OneGPU, "", nullptr, [&](const fakecl::Client &) {
      DeviceInfo->DeviceArchs[0] = Arch;
      std::vector<uint8_t> Bytes = spirvModule(Manifest);
      DeviceImage Image = imageOf(Bytes, Host);
      if (!__tgt_rtl_load_binary(0, &Image))
        return 7;
      OpenCLProgramTy &P = DeviceInfo->Programs[0].back();
      for (cl_kernel K : P.Kernels) {
        const KernelProperty &KP = DeviceInfo->KernelProperties[0].at(K);
        std::printf("%zu/%zu/%zu ", KP.Width, KP.SIMDWidth, KP.MaxThreadGroupSize);
      }
      std::printf("\n");
      return 0;
    });
    EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
    // A device without a sub-group size takes half the group multiple; group widths of two
    // sub-groups at least, except on architecture 1.
    EXPECT_EQ(R.Stdout, Arch == 1 ? "32/16/128 16/32/512 64/16/256 \n"
                                  : "32/16/128 64/32/512 64/16/256 \n");
  }
}

TEST(BuildKernels, FailedQueriesFailTheLoad) {
  struct Case {
    const char *Title;
    std::string Manifest;
    std::string Faults;
    std::string Line;
  } Cases[] = {
      {"group multiple", "kernel k", "kernelinfo k 0x11B3 fail -30",
       "Error: buildKernels:clGetKernelWorkGroupInfo failed with error code -30, CL_INVALID_VALUE"},
      {"sub-group size", "kernel k", "kernelinfo k 0x2033 fail -30",
       "Error: buildKernels:clGetKernelSubGroupInfo failed with error code -30, CL_INVALID_VALUE"},
      {"group size", "kernel k", "kernelinfo k 0x11B0 fail -5",
       "Error: buildKernels:clGetKernelWorkGroupInfo failed with error code -5, "
       "CL_OUT_OF_RESOURCES"},
      {"kernel info version", "kernel k\nglobal k_kernel_info 8 init=0600000000000000", "",
       "Error: failed to read kernel info for kernel k"},
      {"argument count", "kernel k args=1 argtypes=int", "fail clGetKernelInfo err=-48",
       "Error: buildKernels:clGetKernelInfo failed with error code -48, CL_INVALID_KERNEL"},
      {"argument type name", "kernel k args=1 argtypes=int", "fail clGetKernelArgInfo nth=2",
       "Error: buildKernels:clGetKernelArgInfo failed with error code -5, CL_OUT_OF_RESOURCES"},
      {"argument name", "kernel k args=1 argtypes=int", "fail clGetKernelArgInfo nth=4",
       "Error: buildKernels:clGetKernelArgInfo failed with error code -5, CL_OUT_OF_RESOURCES"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    HostEntries Host;
    Host.add("k");
    ChildResult R = loadShared(C.Manifest, Host, debugLevel("1"), C.Faults);
    EXPECT_EQ(R.ExitStatus, 7) << R.Stderr;
    expectLines(R, {C.Line});
  }
}

TEST(BuildKernels, ArgumentListingAtDebugLevelOne) {
  HostEntries Host;
  Host.add("k").add("u");
  const std::string Manifest = "kernel k args=2 argtypes=int*,long argnames=a,b\n"
                               "kernel u args=1 argtypes=float\n";
  const std::vector<std::string> Listing = {"Kernel 0: Name = k, NumArgs = 2", "  Arg  0: int* a",
                                            "  Arg  1: long b", "Kernel 1: Name = u, NumArgs = 1",
                                            "  Arg  0: float undefined"};
  ChildResult Full = loadShared(Manifest, Host, debugLevel("1"));
  EXPECT_EQ(Full.ExitStatus, 0) << Full.Stderr;
  expectLines(Full, Listing);

  // Without argument information only the counts are listed, and the load succeeds.
  ChildResult NoInfo = loadShared(Manifest, Host, debugLevel("1"), "fail clGetKernelArgInfo all");
  EXPECT_EQ(NoInfo.ExitStatus, 0) << NoInfo.Stderr;
  expectLines(NoInfo, {Listing[0], Listing[3]});
  EXPECT_EQ(NoInfo.Stderr.find("  Arg "), std::string::npos) << NoInfo.Stderr;
  EXPECT_EQ(NoInfo.Stderr.find("clGetKernelArgInfo failed"), std::string::npos) << NoInfo.Stderr;

  // Without debugging nothing is queried.
  ChildResult Quiet = runPlugin(OneGPU, "", {}, [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
    std::vector<uint8_t> Bytes = spirvModule(Manifest);
    DeviceImage Image = imageOf(Bytes, Host);
    bool Loaded = P.load_binary(0, &Image) != nullptr;
    std::printf("%d %zu %zu\n", Loaded, Fake.call_count("clGetKernelArgInfo"),
                Fake.call_count("clGetKernelInfo"));
    return 0;
  });
  EXPECT_EQ(Quiet.ExitStatus, 0) << Quiet.Stderr;
  EXPECT_EQ(Quiet.Stdout, "1 0 0\n");
}

TEST(BuildKernels, LoggedArgumentTextsAtDebugLevelTwo) {
  HostEntries Host;
  static uint32_t Value = 3;
  Host.add("k").add("g", 4, 0, &Value).add("v", 4, 0, &Value);
  ChildResult R = loadShared("kernel k args=1 argtypes=int argnames=x\nglobal g 4\n"
                             "entry g size=4 global=g\nentry k\n",
                             Host, debugLevel("2"));
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
  expectLines(
      R,
      {"CL_CALLER: clGetDeviceGlobalVariablePointerTARNO ( Device, FinalProgram, Name, "
       "&SizeDummy, &DevicePtr )",
       "CL_CALLER: clEnqueueMemcpyTARNO ( CmdQueue, 1 , HostPtr, DevicePtr, Size, 0 , nullptr , "
       "nullptr )",
       "CL_CALLER: clEnqueueMemcpyTARNO ( DeviceInfo->Queues[DeviceId], 1, Entry.Base.name, "
       "NameTgtAddr, NameSize, 0, nullptr, nullptr )",
       "CL_CALLER: clCreateKernel ( FinalProgram, Name )",
       "CL_CALLER: clGetKernelWorkGroupInfo ( Kernel, Device, 0x11B3, sizeof(size_t), "
       "&KernelProperty.Width, nullptr )",
       "CL_CALLER: clGetKernelSubGroupInfo ( Kernel, Device, 0x2033, sizeof(size_t), "
       "&KernelProperty.SIMDWidth, sizeof(size_t), &KernelProperty.SIMDWidth, nullptr )",
       "CL_CALLER: clGetKernelWorkGroupInfo ( Kernel, Device, 0x11B0, sizeof(size_t), "
       "&KernelProperty.MaxThreadGroupSize, nullptr )",
       "CL_CALLER: clGetKernelInfo ( Kernel, 0x1191, sizeof(cl_uint), &NumArgs, nullptr )",
       "CL_CALLER: clGetKernelArgInfo ( Kernel, J, 0x1198, 0, nullptr, &BufSize )",
       "CL_CALLER: clGetKernelArgInfo ( Kernel, J, 0x1198, BufSize, Buf.data(), nullptr )",
       "CL_CALLER: clGetKernelArgInfo ( Kernel, J, 0x119A, 0, nullptr, &BufSize )",
       "CL_CALLER: clGetKernelArgInfo ( Kernel, J, 0x119A, BufSize, Buf.data(), nullptr )",
       "  Arg  0: int x"});
}

TEST(BuildKernels, DeviceGlobalsAreReadAndWritten) {
  HostEntries Host;
  Host.add("k");
  ChildResult R = loadLinked(
      OneGPU, "kernel k\nglobal g 8 init=0102030405060708", Host,
      [](OpenCLProgramTy &P, TargetTable *T, const fakecl::Client &Fake) {
        if (!T)
          return 7;
        uint64_t Read = 0, Written = 0x1122334455667788, Back = 0;
        int32_t R1 = P.readGlobalVariable("g", 8, &Read);
        int32_t W = P.writeGlobalVariable("g", 8, &Written);
        int32_t R2 = P.readGlobalVariable("g", 8, &Back);
        uint64_t Device = 0;
        std::memcpy(&Device, Fake.findGlobal("g"), 8);
        std::printf("%d %d %d %llx %llx %llx %d %d\n", R1, W, R2,
                    static_cast<unsigned long long>(Read), static_cast<unsigned long long>(Back),
                    static_cast<unsigned long long>(Device),
                    P.readGlobalVariable("nope", 8, &Read),
                    P.writeGlobalVariable("nope", 8, &Read));
        return 0;
      });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
  // A global the program lacks is told apart from a failed copy (GlobalMissing, 1).
  EXPECT_EQ(R.Stdout, "0 0 0 807060504030201 1122334455667788 1122334455667788 1 1\n");

  // A platform without the global-variable or copy function: every access fails and none
  // crashes. Without the copy a load still succeeds without the device table; without the lookup
  // it fails, since nothing tells whether a kernel has an info record its arguments need.
  const std::pair<const char *, const char *> Cases[] = {
      {"clGetDeviceGlobalVariablePointerTARNO", "0 -1 -1 0\n"},
      {"clEnqueueMemcpyTARNO", "1 -1 -1 0\n"}};
  for (auto [Missing, Expected] : Cases) {
    SCOPED_TRACE(Missing);
    static uint32_t Value = 5;
    HostEntries WithGlobal;
    WithGlobal.add("k").add("v", 4, 0, &Value);
    ChildResult Without = loadLinked(
        OneGPU + "extfn " + Missing + " off\n", "kernel k\nglobal g 8\nentry g size=8 global=g", WithGlobal,
        [](OpenCLProgramTy &P, TargetTable *T, const fakecl::Client &) {
          uint64_t V = 0;
          std::printf("%d %d %d %zu\n", T != nullptr, P.readGlobalVariable("g", 8, &V),
                      P.writeGlobalVariable("g", 8, &V), P.OffloadTable.size());
          return 0;
        });
    EXPECT_EQ(Without.ExitStatus, 0) << Without.Stderr;
    EXPECT_EQ(Without.Stdout, Expected);
  }
}

TEST(BuildKernels, GlobalsWithoutAHostCopyNameOrDeviceMemory) {
  // A global without host storage is allocated but nothing is copied; one without a name is
  // skipped like any nameless entry.
  HostEntries Host;
  Host.add("v", 4).add(nullptr, 8);
  ChildResult R = loadShared("kernel k", Host, debugLevel("1"), "",
                             [](TargetTable &T, const fakecl_control_v1 &) {
                               std::printf("%d %d\n", T.EntriesBegin[0].address != nullptr,
                                           T.EntriesBegin[1].address == nullptr);
                             });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "1 1\n");
  expectLines(R, {"Warning: global variable 'v' allocated. Direct references will not work "
                  "properly.",
                  "Warning: Entry with a nullptr name!!!"});
  EXPECT_EQ(R.Stderr.find("submitData"), std::string::npos) << R.Stderr;

  // Device memory for a global that cannot be had fails the load.
  static uint32_t Value = 1;
  HostEntries One;
  One.add("v", 4, 0, &Value);
  ChildResult NoMemory =
      loadShared("kernel k", One, debugLevel("1"), "fail clDeviceMemAllocTARNO nth=1 err=-6");
  EXPECT_EQ(NoMemory.ExitStatus, 7) << NoMemory.Stderr;
  expectLines(NoMemory, {"Error: cannot allocate global variable 'v' of size 4."});
}
