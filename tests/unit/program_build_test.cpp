// The build pipeline of image loading over the fake driver: composed options, build versus
// compile and link, device libraries, specialization constants, build logs and every failure path.
#include "memory_fake_driver.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace memtest;
using namespace progtest;

namespace {

const EnvironmentList Debug = {{"LIBOMPTARGET_DEBUG", "1"}};

EnvironmentList with(EnvironmentList Env, const EnvironmentList &More) {
  Env.insert(Env.end(), More.begin(), More.end());
  return Env;
}

// Loads one module with an empty host table and prints the call record; exit 0 when the load
// returned a table.
ChildResult loadOnce(const std::string &Layout, const std::string &Faults, EnvironmentList Env,
                     const std::string &Manifest = "kernel k",
                     const std::function<void(HostPlugin &)> &Before = nullptr) {
  return runPlugin(Layout, Faults, Env, [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
    if (Before)
      Before(P);
    std::vector<uint8_t> Bytes = spirvModule(Manifest);
    HostEntries Host;
    DeviceImage Image = imageOf(Bytes, Host);
    TargetTable *Table = P.load_binary(0, &Image);
    std::printf("%s", fakeCallLog(Fake).c_str());
    if (!Table)
      return 7;
    return Table->EntriesBegin == Table->EntriesEnd ? 0 : 8;
  });
}

} // namespace

TEST(LoadOptions, ComposedTextsOnGPUAndCPU) {
  ChildResult GPU = loadOnce(OneGPU, "", {});
  ASSERT_EQ(GPU.ExitStatus, 0) << GPU.Stderr;
  EXPECT_EQ(optionsOf(GPU.Stdout, "clCompileProgram"),
            std::vector<std::string>{" -cl-std=CL2.0    "});
  EXPECT_EQ(optionsOf(GPU.Stdout, "clLinkProgram"),
            std::vector<std::string>{"  -cl-take-global-address  -cl-match-sincospi  "});

  ChildResult CPU = loadOnce(OneCPU, "", {{"LIBOMPTARGET_DEVICETYPE", "cpu"}});
  ASSERT_EQ(CPU.ExitStatus, 0) << CPU.Stderr;
  EXPECT_EQ(optionsOf(CPU.Stdout, "clCompileProgram"), std::vector<std::string>{"-cl-std=CL2.0   "});
  EXPECT_EQ(optionsOf(CPU.Stdout, "clLinkProgram"), std::vector<std::string>{"  "});
}

TEST(LoadOptions, DebugAndOptimisationSwitchesReachTheGPULinkOnly) {
  const EnvironmentList User = {{"LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS", "-g -gline -cl-opt-disable"},
                                {"LIBOMPTARGET_OPENCL_LINKING_OPTIONS", "-lx"}};
  ChildResult GPU = loadOnce(OneGPU, "", User);
  ASSERT_EQ(GPU.ExitStatus, 0) << GPU.Stderr;
  EXPECT_EQ(optionsOf(GPU.Stdout, "clCompileProgram"),
            std::vector<std::string>{" -cl-std=CL2.0  -g -gline -cl-opt-disable  "});
  EXPECT_EQ(optionsOf(GPU.Stdout, "clLinkProgram"),
            std::vector<std::string>{
                "-lx  -cl-take-global-address  -cl-match-sincospi  -g  -cl-opt-disable  "});

  ChildResult CPU = loadOnce(OneCPU, "", with(User, {{"LIBOMPTARGET_DEVICETYPE", "cpu"}}));
  ASSERT_EQ(CPU.ExitStatus, 0) << CPU.Stderr;
  EXPECT_EQ(optionsOf(CPU.Stdout, "clLinkProgram"), std::vector<std::string>{"-lx  "});

  // At the very end of the text the switch still matches; as part of a word it does not.
  ChildResult End = loadOnce(OneGPU, "", {{"LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS", "-gx -g"}});
  ASSERT_EQ(End.ExitStatus, 0) << End.Stderr;
  std::vector<std::string> Link = optionsOf(End.Stdout, "clLinkProgram");
  ASSERT_EQ(Link.size(), 1u);
  EXPECT_EQ(Link[0], "  -cl-take-global-address  -cl-match-sincospi  -g  ");
}

TEST(LoadOptions, AddedBuildOptionsFillOnlyEmptyTexts) {
  auto AddTwice = [](HostPlugin &P) {
    P.add_build_options("-DFIRST", "-lfirst");
    P.add_build_options("-DSECOND", nullptr);
    P.add_build_options(nullptr, "-lsecond");
  };
  ChildResult R = loadOnce(OneCPU, "", with(Debug, {{"LIBOMPTARGET_DEVICETYPE", "cpu"}}),
                           "kernel k", AddTwice);
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(optionsOf(R.Stdout, "clCompileProgram"),
            std::vector<std::string>{"-cl-std=CL2.0  -DFIRST  "});
  EXPECT_EQ(optionsOf(R.Stdout, "clLinkProgram"), std::vector<std::string>{"-lfirst   "});
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Respecting LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS=-DFIRST "));
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Respecting LIBOMPTARGET_OPENCL_LINKING_OPTIONS=-lfirst "));

  // The environment wins over the host runtime from the first call on.
  ChildResult Env = loadOnce(OneCPU, "",
                             with(Debug, {{"LIBOMPTARGET_DEVICETYPE", "cpu"},
                                          {"LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS", "-DENV"}}),
                             "kernel k", AddTwice);
  ASSERT_EQ(Env.ExitStatus, 0) << Env.Stderr;
  EXPECT_EQ(optionsOf(Env.Stdout, "clCompileProgram"),
            std::vector<std::string>{"-cl-std=CL2.0  -DENV "});
  EXPECT_TRUE(hasLine(Env.Stderr, Prefix + "Respecting LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS=-DENV"));
}

TEST(BuildPipeline, OneStepBuildForSIMDAndVCCodegen) {
  ChildResult Default = loadOnce(OneCPU, "", with(Debug, {{"LIBOMPTARGET_DEVICETYPE", "cpu"}}));
  ASSERT_EQ(Default.ExitStatus, 0) << Default.Stderr;
  EXPECT_EQ(optionsOf(Default.Stdout, "clBuildProgram").size(), 0u);
  EXPECT_EQ(optionsOf(Default.Stdout, "clCompileProgram").size(), 1u);
  EXPECT_TRUE(hasLine(Default.Stderr, Prefix + "Successfully linked 1 programs."));

  const std::vector<EnvironmentList> OneStep = {
      {{"LIBOMPTARGET_ENABLE_SIMD", "1"}},
      {{"LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS", "-vc-codegen"}},
  };
  for (const EnvironmentList &Env : OneStep) {
    SCOPED_TRACE(Env[0].first);
    ChildResult R = loadOnce(OneGPU, "", with(Debug, Env));
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(optionsOf(R.Stdout, "clCompileProgram").size(), 0u);
    EXPECT_EQ(optionsOf(R.Stdout, "clLinkProgram").size(), 0u);
    std::vector<std::string> Build = optionsOf(R.Stdout, "clBuildProgram");
    ASSERT_EQ(Build.size(), 1u);
    // Compile options, a blank, then the link options.
    EXPECT_NE(Build[0].find("    -cl-take-global-address"), std::string::npos) << Build[0];
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Program linking is not required."));
  }
}

TEST(BuildPipeline, EveryFailureReturnsNullAndKeepsTheObjectForShutdown) {
  struct Case {
    const char *Fault;
    EnvironmentList Env;
    const char *Manifest;
    const char *Message;
  } Cases[] = {
      {"fail clCreateProgramWithIL err=-30", {}, "kernel k",
       "Error: Failed to create program from SPIR-V: -30"},
      {"", {}, "kernel k\nbuild-fail", "Error: Failed to compile program: -15"},
      {"fail clLinkProgram err=-17", {}, "kernel k", "Error: Failed to link program: -17"},
      {"", {{"LIBOMPTARGET_ENABLE_SIMD", "1"}}, "kernel k\nbuild-fail",
       "Error: Failed to build program: -11"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Message);
    ChildResult R = runPlugin(OneGPU, C.Fault, with(Debug, C.Env),
                              [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
                                std::vector<uint8_t> Bytes = spirvModule(C.Manifest);
                                HostEntries Host;
                                DeviceImage Image = imageOf(Bytes, Host);
                                if (P.load_binary(0, &Image))
                                  return 3;
                                P.unregister_lib(nullptr);
                                // Everything the failed load made is gone after shutdown.
                                return Fake.live_objects("program") == 0 ? 4 : 5;
                              });
    EXPECT_EQ(R.ExitStatus, 4) << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + C.Message)) << R.Stderr;
  }
}

TEST(BuildPipeline, AFailedLoadLeavesItsPartsInTheProgramList) {
  struct Case {
    const char *Fault;
    const char *Manifest;
    const char *Expected; // programs in the list, whether a linked program is kept
  } Cases[] = {
      {"fail clCreateProgramWithIL", "kernel k", "1 0 0"},
      {"", "kernel k\nbuild-fail", "1 1 0"},
      {"fail clLinkProgram", "kernel k", "1 1 1"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Manifest);
    ChildResult R = runLinked(OneGPU, C.Fault, nullptr, [&](const fakecl::Client &Fake) {
      std::vector<uint8_t> Bytes = spirvModule(C.Manifest);
      HostEntries Host;
      DeviceImage Image = imageOf(Bytes, Host);
      if (__tgt_rtl_load_binary(0, &Image))
        return 3;
      const OpenCLProgramTy &Program = DeviceInfo->Programs[0].back();
      std::printf("%zu %zu %d\n", DeviceInfo->Programs[0].size(), Program.Programs.size(),
                  Program.RequiresProgramLink);
      closeRTL();
      return static_cast<int>(Fake.liveObjects("all"));
    });
    EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(R.Stdout, std::string(C.Expected) + "\n");
  }
}

TEST(BuildPipeline, ProgramsAreReleasedInLoadOrderAfterTheirKernels) {
  ChildResult R = runPlugin(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    std::vector<uint8_t> First = spirvModule("kernel a"), Second = spirvModule("kernel b");
    HostEntries HostA, HostB;
    HostA.add("a");
    HostB.add("b");
    DeviceImage ImageA = imageOf(First, HostA), ImageB = imageOf(Second, HostB);
    TargetTable *A = P.load_binary(0, &ImageA);
    TargetTable *B = P.load_binary(0, &ImageB);
    if (!A || !B)
      return 3;
    void *KernelA = *static_cast<void **>(A->EntriesBegin->address);
    void *KernelB = *static_cast<void **>(B->EntriesBegin->address);
    Fake.reset_log();
    P.unregister_lib(nullptr); // the one that shuts down; the stand-in's extra one finds nothing
    std::printf("%p %p\n%s", KernelA, KernelB, fakeCallLog(Fake).c_str());
    return Fake.live_objects("all") == 0 ? 0 : 4;
  });
  ASSERT_EQ(R.ExitStatus, 0) << "signal " << R.Signal << "\n" << R.Stderr << R.Stdout;
  std::vector<std::string> Lines = splitLines(R.Stdout);
  std::vector<std::string> Releases;
  for (const std::string &Line : Lines)
    if (Line.rfind("clReleaseKernel", 0) == 0 || Line.rfind("clReleaseProgram", 0) == 0)
      Releases.push_back(Line.substr(0, Line.find('(')));
  // Each load: its kernel, its image program, its linked program.
  EXPECT_EQ(Releases, (std::vector<std::string>{"clReleaseKernel", "clReleaseProgram",
                                                "clReleaseProgram", "clReleaseKernel",
                                                "clReleaseProgram", "clReleaseProgram"}));
  std::string KernelA = Lines[0].substr(0, Lines[0].find(' '));
  size_t FirstKernel = R.Stdout.find("clReleaseKernel(");
  ASSERT_NE(FirstKernel, std::string::npos);
  EXPECT_EQ(R.Stdout.compare(FirstKernel + 16, KernelA.size(), KernelA), 0) << R.Stdout;
}

TEST(BuildLog, PrintedWithoutPrefixLineByLine) {
  const std::string Manifest = "kernel k\nlog \"first line\\nsecond line\"";
  ChildResult Shown = loadOnce(OneGPU, "", {{"LIBOMPTARGET_QUVELA_SHOW_BUILD_LOG", "1"}}, Manifest);
  ASSERT_EQ(Shown.ExitStatus, 0) << Shown.Stderr;
  // For the created module (nothing built yet), the compiled module and the linked program, at
  // debug level 0.
  EXPECT_EQ(countLines(Shown.Stderr, "OPENCL message: Target build log:"), 3u) << Shown.Stderr;
  EXPECT_EQ(countLines(Shown.Stderr, "OPENCL message:   <empty>"), 1u);
  EXPECT_EQ(countLines(Shown.Stderr, "OPENCL message:   first line"), 2u);
  EXPECT_EQ(countLines(Shown.Stderr, "OPENCL message:   second line"), 2u);

  ChildResult Empty = loadOnce(OneGPU, "", {{"LIBOMPTARGET_QUVELA_SHOW_BUILD_LOG", "1"}});
  ASSERT_EQ(Empty.ExitStatus, 0) << Empty.Stderr;
  EXPECT_TRUE(hasLine(Empty.Stderr, "OPENCL message:   <empty>")) << Empty.Stderr;

  // Without the option and without debugging a failing build prints nothing.
  ChildResult Quiet = loadOnce(OneGPU, "", {}, Manifest + "\nbuild-fail");
  EXPECT_EQ(Quiet.ExitStatus, 7);
  EXPECT_EQ(Quiet.Stderr, "");
  // With debugging, the failing compile shows its log.
  ChildResult Failed = loadOnce(OneGPU, "", Debug, Manifest + "\nbuild-fail");
  EXPECT_EQ(Failed.ExitStatus, 7);
  EXPECT_TRUE(hasLine(Failed.Stderr, "OPENCL message:   second line")) << Failed.Stderr;
}

TEST(SpecConstants, SetOnEveryProgramWhenThePlatformHasTheFunction) {
  const EnvironmentList Annotations = with(Debug, {{"TARNO_ENABLE_OFFLOAD_ANNOTATIONS", "1"}});
  ChildResult Set = loadOnce(OneGPU, "", Annotations);
  ASSERT_EQ(Set.ExitStatus, 0) << Set.Stderr;
  EXPECT_NE(Set.Stdout.find("clSetProgramSpecializationConstant("), std::string::npos);
  EXPECT_NE(Set.Stdout.find(", 0xff747469, 1, "), std::string::npos) << Set.Stdout;
  EXPECT_TRUE(hasLine(Set.Stderr, Prefix + "Set specialization constant '0xFF747469'"));

  ChildResult Failing = loadOnce(OneGPU, "fail clSetProgramSpecializationConstant", Annotations);
  ASSERT_EQ(Failing.ExitStatus, 0) << Failing.Stderr;
  EXPECT_EQ(Failing.Stderr.find("Set specialization constant"), std::string::npos);

  const std::string Withheld = OneGPU + "extfn clSetProgramSpecializationConstant off\n";
  ChildResult Missing = loadOnce(Withheld, "", Annotations);
  ASSERT_EQ(Missing.ExitStatus, 0) << Missing.Stderr;
  EXPECT_TRUE(hasLine(Missing.Stderr,
                      Prefix + "Error: Extension clSetProgramSpecializationConstant is not supported."));

  ChildResult None = loadOnce(OneGPU, "", Debug);
  EXPECT_EQ(None.Stdout.find("clSetProgramSpecializationConstant("), std::string::npos);
}

namespace {

const char *const LibraryFiles[] = {
    "libomp-fallback-cassert.spv",      "libomp-fallback-cmath.spv",
    "libomp-fallback-cmath-fp64.spv",   "libomp-fallback-complex.spv",
    "libomp-fallback-complex-fp64.spv", "libomp-fallback-cstring.spv",
};

// A directory holding a copy of the plugin and, when asked, the six library files.
struct PluginCopy {
  std::string Directory;
  std::string Plugin;
  explicit PluginCopy(bool WithLibraries) {
    char Template[] = "/tmp/plugin-copy-XXXXXX";
    Directory = mkdtemp(Template);
    Plugin = Directory + "/libomptarget.rtl.opencl.so";
    std::ifstream In(PLUGIN_PATH, std::ios::binary);
    std::ofstream(Plugin, std::ios::binary) << In.rdbuf();
    for (const char *File : LibraryFiles)
      if (WithLibraries)
        std::ofstream(Directory + "/" + File) << "FAKECL-MODULE\nkernel lib_" << File << "\n";
  }
  ~PluginCopy() {
    std::remove(Plugin.c_str());
    for (const char *File : LibraryFiles)
      std::remove((Directory + "/" + File).c_str());
    rmdir(Directory.c_str());
  }
};

// Prints the numbers of compiled programs, of programs made from SPIR-V and of one-step builds.
ChildResult loadWithLibraries(const std::string &PluginPath, const std::string &Layout,
                              const std::string &Faults, const EnvironmentList &More = {}) {
  EnvironmentList Env = with(with(Debug, {{"LIBOMPTARGET_QUVELA_LINK_LIBDEVICE", "1"}}), More);
  return runWithFakeDriver({FAKECL_PATH, PluginPath, Layout, Faults, Env},
                           [](HostPlugin &P, const fakecl_control_v1 &Fake) {
                             P.register_lib(nullptr);
                             P.number_of_devices();
                             if (P.init_device(0) != 0)
                               return 80;
                             std::vector<uint8_t> Bytes = spirvModule("kernel k");
                             HostEntries Host;
                             DeviceImage Image = imageOf(Bytes, Host);
                             TargetTable *Table = P.load_binary(0, &Image);
                             std::printf("%zu %zu %zu\n", Fake.call_count("clCompileProgram"),
                                         Fake.call_count("clCreateProgramWithIL"),
                                         Fake.call_count("clBuildProgram"));
                             P.unregister_lib(nullptr);
                             return Table ? 0 : 7;
                           });
}

} // namespace

TEST(DeviceLibraries, FoundBesideThePluginAndLinked) {
  PluginCopy Copy(true);
  // With the libraries added, a SIMD build is no longer a one-step build of the image alone.
  for (const EnvironmentList &More :
       {EnvironmentList{}, EnvironmentList{{"LIBOMPTARGET_ENABLE_SIMD", "1"}},
        EnvironmentList{{"LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS", "-vc-codegen"}}}) {
    SCOPED_TRACE(More.empty() ? "default" : More[0].first);
    ChildResult R = loadWithLibraries(Copy.Plugin, OneGPU, "", More);
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(R.Stdout, "7 7 0\n");
    for (const char *File : LibraryFiles) {
      EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Found device RTL: " + Copy.Directory + "/" + File));
      EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Added fallback libdevice RTL " + File + "."));
    }
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Successfully linked 7 programs."));
  }

  // A library the driver refuses is left out; the load goes on.
  ChildResult Refused = loadWithLibraries(Copy.Plugin, OneGPU, "fail clCreateProgramWithIL nth=2 err=-42");
  ASSERT_EQ(Refused.ExitStatus, 0) << Refused.Stderr;
  EXPECT_EQ(Refused.Stdout, "6 7 0\n");
  EXPECT_TRUE(hasLine(Refused.Stderr, Prefix + "Error: Failed to create device RTL from IL: -42"));
  EXPECT_TRUE(hasLine(Refused.Stderr,
                      Prefix + "Cannot add fallback libdeice RTL libomp-fallback-cassert.spv."));
}

TEST(DeviceLibraries, MissingFilesAndLibrariesTheDeviceHas) {
  PluginCopy Copy(false);
  ChildResult Missing = loadWithLibraries(Copy.Plugin, OneGPU, "");
  ASSERT_EQ(Missing.ExitStatus, 0) << Missing.Stderr;
  EXPECT_EQ(Missing.Stdout, "1 1 0\n");
  for (const char *File : LibraryFiles) {
    EXPECT_TRUE(hasLine(Missing.Stderr, Prefix + "Cannot find device RTL: " + Copy.Directory + "/" + File));
    EXPECT_TRUE(hasLine(Missing.Stderr, Prefix + "Cannot add fallback libdeice RTL " + File + "."));
  }

  const std::string AllOnDevice =
      "platform version=\"OpenCL 3.0 fake\"\ndevice type=gpu name=\"G\" extensions=\"cl_khr_il_program "
      "cl_tarno_unified_shared_memory cl_tarno_device_attribute_query cl_tarno_devicelib_cassert "
      "cl_tarno_devicelib_math cl_tarno_devicelib_math_fp64 cl_tarno_devicelib_complex "
      "cl_tarno_devicelib_complex_fp64 cl_tarno_devicelib_cstring\"\n";
  ChildResult OnDevice = loadWithLibraries(Copy.Plugin, AllOnDevice, "");
  ASSERT_EQ(OnDevice.ExitStatus, 0) << OnDevice.Stderr;
  EXPECT_EQ(OnDevice.Stdout, "1 1 0\n");
  for (const char *File : LibraryFiles)
    EXPECT_TRUE(hasLine(OnDevice.Stderr,
                        Prefix + "Fallback libdevice RTL " + File + " is not required."));
  EXPECT_EQ(OnDevice.Stderr.find("device RTL:"), std::string::npos);
}

TEST(BinaryPrograms, OneIsBuiltSeveralAreLinked) {
  ChildResult R = runLinked(OneGPU, "", nullptr, [](const fakecl::Client &Fake) {
    std::vector<uint8_t> Bytes = spirvModule("kernel k");
    HostEntries Host;
    DeviceImage Image = imageOf(Bytes, Host);
    auto &List = DeviceInfo->Programs[0];
    OpenCLProgramTy &One = List.emplace_back(&Image, DeviceInfo->getContext(0), DeviceInfo->Devices[0], 0);
    OpenCLProgramTy &Two = List.emplace_back(&Image, DeviceInfo->getContext(0), DeviceInfo->Devices[0], 0);
    std::string Comp = "-c ", Link = "-l ";
    bool SingleBuilt = One.addProgramBIN(Bytes.size(), Bytes.data()) == 0 && One.IsBinary &&
                       One.compilePrograms(Comp, Link) == 0 && !One.RequiresProgramLink &&
                       One.linkPrograms(Link) == 0 && One.FinalProgram == One.Programs[0];
    bool PairLinked = Two.addProgramBIN(Bytes.size(), Bytes.data()) == 0 &&
                      Two.addProgramBIN(Bytes.size(), Bytes.data()) == 0 &&
                      Two.compilePrograms(Comp, Link) == 0 && Two.RequiresProgramLink &&
                      Two.linkPrograms(Link) == 0 && Two.FinalProgram &&
                      Two.FinalProgram != Two.Programs[0];
    OpenCLProgramTy &Three = List.emplace_back(&Image, DeviceInfo->getContext(0), DeviceInfo->Devices[0], 0);
    Fake.configure("fail clCreateProgramWithBinary err=-42");
    bool Refused = Three.addProgramBIN(Bytes.size(), Bytes.data()) == -1 && Three.Programs.empty();
    std::printf("%d %d %d\n", SingleBuilt, PairLinked, Refused);
    closeRTL();
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "1 1 1\n");
}

TEST(LoadBinary, BadDescriptorsAndDevicesAreRefused) {
  ChildResult R = runPlugin(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &) {
    std::vector<uint8_t> Bytes = spirvModule("kernel k");
    HostEntries Host;
    DeviceImage Good = imageOf(Bytes, Host);
    DeviceImage Reversed = {Good.BytesEnd, Good.BytesBegin, nullptr, nullptr};
    int Refused = (P.load_binary(1, &Good) == nullptr) + (P.load_binary(-1, &Good) == nullptr) +
                  (P.load_binary(0, nullptr) == nullptr) +
                  (P.load_binary(0, &Reversed) == nullptr);
    std::printf("%d %d\n", Refused, P.load_binary(0, &Good) != nullptr);
    return 0;
  });
  EXPECT_EQ(R.Stdout, "4 1\n") << R.Stderr;
}

TEST(LoadProfile, CompilingLinkingAndTheEntriesAreTimed) {
  ChildResult R = runLinked(
      OneGPU, "", [] { DeviceInfo->Option.Flags |= OptionFlagProfile; },
      [](const fakecl::Client &) {
        std::vector<uint8_t> Bytes = spirvModule("kernel k");
        HostEntries Host;
        Host.add("k");
        DeviceImage Image = imageOf(Bytes, Host);
        if (!__tgt_rtl_load_binary(0, &Image))
          return 7;
        for (const auto &[Thread, Profile] : DeviceInfo->Profiles[0])
          for (const auto &[Name, Times] : Profile.Records)
            std::printf("%d %s\n", Thread, Name.c_str());
        return 0;
      });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "0 Compiling\n0 Linking\n0 OffloadEntriesInit\n");
}
