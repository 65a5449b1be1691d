// Device initialisation, the device queries after it, and the releases of shutdown, over the
// fake OpenCL driver.
#include "fake_driver_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

ChildResult run(const std::string &Layout, const std::string &Faults, EnvironmentList Env,
                const FakeDriverBody &Body) {
  Env.emplace_back("LIBOMPTARGET_DEBUG", "1");
  return runWithFakeDriver({FAKECL_PATH, PLUGIN_PATH, Layout, Faults, Env}, Body);
}

const std::string OneGPU = "platform version=\"OpenCL 3.0 fake\"\ndevice type=gpu name=\"G\"\n";
const std::string Prefix = "Target OPENCL RTL --> ";

// Discovers, sets the requirement flags, initialises device 0 and prints the result; prints the
// live contexts and queues after shutdown.
FakeDriverBody initFirst(int64_t Requires = 0) {
  return [Requires](HostPlugin &P, const fakecl_control_v1 &Fake) {
    P.register_lib(nullptr);
    P.number_of_devices();
    P.init_requires(Requires);
    std::printf("init=%d\n", P.init_device(0));
    P.unregister_lib(nullptr);
    std::printf("live contexts=%zu queues=%zu\n", Fake.live_objects("context"),
                Fake.live_objects("queue"));
    return 0;
  };
}

} // namespace

TEST(DeviceInit, BadDeviceNumbers) {
  ChildResult R = run(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &) {
    P.number_of_devices();
    std::printf("%d %d\n", P.init_device(-1), P.init_device(1));
    // Every entry point with a device number answers its failure value; device 0 is discovered
    // but not initialised, which only the queries accept.
    for (int32_t Id : {-1, 1, 0}) {
      char Buf[8] = "";
      int V = 0;
      void *Ptr = &V;
      DataAllocInfo Info;
      std::printf("%d %d %d %d | ", P.get_context_handle(Id) != nullptr,
                  P.get_device_name(Id, Buf, sizeof(Buf)) != nullptr,
                  P.is_supported_device(Id, 1),
                  P.get_device_info(Id, 14, sizeof(Buf), Buf, nullptr));
      std::printf("%d %d %d %d %d %d %d %d %d ", P.data_alloc(Id, 4, nullptr, 0) != nullptr,
                  P.data_alloc_base(Id, 4, Ptr, Ptr, 2) != nullptr,
                  P.data_aligned_alloc(Id, 8, 4, 0) != nullptr,
                  P.data_realloc(Id, Ptr, 8, 0) != nullptr, P.data_delete(Id, Ptr),
                  P.requires_mapping(Id, Ptr, 4), P.get_data_alloc_info(Id, 1, &Ptr, &Info),
                  P.is_accessible_addr_range(Id, Ptr, 4), P.notify_indirect_access(Id, Ptr, 0));
      std::printf("%d %d %d %d %d %d\n", P.data_submit(Id, Ptr, &V, 4),
                  P.data_submit_async(Id, Ptr, &V, 4, nullptr), P.data_retrieve(Id, &V, Ptr, 4),
                  P.data_retrieve_async(Id, &V, Ptr, 4, nullptr),
                  P.data_exchange(Id, Ptr, Id, &V, 4), P.load_binary(Id, nullptr) != nullptr);
    }
    return 0;
  });
  const std::string Refused = "0 0 0 0 -1 0 -1 0 -1 -1 -1 -1 -1 -1 0\n";
  EXPECT_EQ(R.Stdout, "-1 -1\n0 0 0 -1 | " + Refused + "0 0 0 -1 | " + Refused + "0 1 1 0 | " +
                          Refused)
      << R.Stderr;
  // One message per refused call.
  std::vector<std::string> Lines = splitLines(R.Stderr);
  for (auto [Id, Count] : {std::pair{-1, 20}, {1, 20}, {0, 15}}) {
    std::string Line = Prefix + "Bad device ID " + std::to_string(Id);
    EXPECT_EQ(std::count(Lines.begin(), Lines.end(), Line), Count) << Id;
  }
}

TEST(DeviceInit, SecondCallsAnswerAsTheFirstAndNothingRunsAfterShutdown) {
  ChildResult R = run(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    P.register_lib(nullptr);
    int32_t First = P.number_of_devices();
    std::printf("count=%d,%d\n", First, P.number_of_devices());
    int32_t Init = P.init_device(0);
    std::printf("init=%d,%d\n", Init, P.init_device(0));
    char Name[16] = "";
    P.get_device_info(0, 0, sizeof(Name), Name, nullptr);
    std::printf("name=%s live=%zu,%zu\n", Name, Fake.live_objects("context"),
                Fake.live_objects("queue"));
    P.unregister_lib(nullptr);
    int32_t Register = P.register_lib(nullptr);
    int32_t Count = P.number_of_devices();
    std::printf("after shutdown=%d,%d,%d\n", Register, Count, P.init_device(0));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "count=1,1\ninit=0,0\nname=G live=1,1\nafter shutdown=-1,0,-1\n")
      << R.Stderr;
  std::vector<std::string> Lines = splitLines(R.Stderr);
  EXPECT_EQ(std::count(Lines.begin(), Lines.end(), Prefix + "Start initializing OpenCL"), 1);
}

TEST(DeviceInit, FailuresAndTheirMessages) {
  struct Case {
    const char *Title;
    std::string Layout, Faults;
    EnvironmentList Env;
    int64_t Requires;
    int Result;
    std::vector<std::string> Lines; // expected on stderr
  } Cases[] = {
      {"success", OneGPU, "", {}, 0, 0, {Prefix + "Initialize OpenCL device"}},
      {"unified shared memory required on GPU", OneGPU, "", {}, 0x8, -1,
       {"Target OPENCL RTL --> Warning: Required \"unified_shared_memory\" is not supported.",
        Prefix + "Initialize requires flags to 8"}},
      {"unified shared memory required on CPU",
       "platform version=\"OpenCL 3.0 fake\"\ndevice type=cpu\n", "",
       {{"LIBOMPTARGET_DEVICETYPE", "cpu"}}, 0x8, 0, {}},
      {"no unified shared memory extension",
       OneGPU + "use platform=0 device=0\ndevinfo 0x1030 string \"cl_khr_fp64\"\n", "", {}, 0,
       -1, {Prefix + "Error: Required USM extension is not found"}},
      {"extension text unreadable", OneGPU, "fail clGetDeviceInfo nth=1 err=-30", {}, 0, -1,
       {Prefix + "Error: getExtensionsInfoForDevice:clGetDeviceInfo failed with error code -30, "
                 "CL_INVALID_VALUE",
        Prefix + "Error: Required USM extension is not found"}},
      {"context creation fails", OneGPU, "fail clCreateContext nth=1 err=-6", {}, 0, -1,
       {Prefix + "Error: __tgt_rtl_init_device:clCreateContext failed with error code -6, "
                 "CL_OUT_OF_HOST_MEMORY"}},
      {"queue creation fails", OneGPU, "fail clCreateCommandQueueWithProperties nth=1 err=-5", {},
       0, -1,
       {Prefix + "Error: __tgt_rtl_init_device:clCreateCommandQueueWithProperties failed with "
                 "error code -5, CL_OUT_OF_RESOURCES",
        Prefix + "Error: Failed to create CommandQueue: -5"}},
      {"property query fails", OneGPU, "fail clGetDeviceInfo nth=4 err=-33", {}, 0, -1,
       {Prefix + "Error: getDeviceProperties:clGetDeviceInfo failed with error code -33, "
                 "CL_INVALID_DEVICE"}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    ChildResult R = run(C.Layout, C.Faults, C.Env, initFirst(C.Requires));
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stdout, "init=" + std::to_string(C.Result))) << R.Stdout << R.Stderr;
    for (const std::string &L : C.Lines)
      EXPECT_TRUE(hasLine(R.Stderr, L)) << L << "\n" << R.Stderr;
    // Whatever happened, nothing is left behind after shutdown.
    EXPECT_TRUE(hasLine(R.Stdout, "live contexts=0 queues=0")) << R.Stdout;
  }
}

TEST(DeviceInit, PropertyQueriesStopAtTheFirstFailure) {
  ChildResult R = run(OneGPU, "fail clGetDeviceInfo nth=4 err=-33", {},
                      [](HostPlugin &P, const fakecl_control_v1 &Fake) {
                        P.number_of_devices();
                        P.init_device(0);
                        std::printf("queries=%zu\n", Fake.call_count("clGetDeviceInfo"));
                        return 0;
                      });
  // Two extension queries, then 0x4251 and the failing 0x4252.
  EXPECT_EQ(R.Stdout, "queries=4\n") << R.Stderr;
}

TEST(DeviceInit, PropertiesArchitectureAndPrintedBlock) {
  struct Case {
    const char *Title;
    std::string Devinfo;
    EnvironmentList Env;
    uint64_t MaskA, MaskB;
    std::string Matches; // of the two masks
    std::string NameLine;
  } Cases[] = {
      {"id family", "devinfo 0x4251 u32 0x1A33\n", {}, 0x1, 0x2, "1 0", "G"},
      {"family beats a full id of a higher code", "devinfo 0x4251 u32 0x1C56\n", {}, 0x1, 0x2,
       "1 0", "G"},
      {"full id", "devinfo 0x4251 u32 0x2D02\n", {}, 0x2, 0x1, "1 0", "G"},
      {"name without the attribute extension",
       "devinfo 0x1030 string \"cl_tarno_unified_shared_memory\"\n"
       "devinfo 0x102B string \"Verdant Max 2\"\ndevinfo 0x4251 u32 0x1A00\n",
       {}, 0x2, 0x1, "1 0", "Verdant Max 2"},
      {"unknown architecture matches every mask", "", {}, 0x1, 0x100, "1 1", "G"},
      {"empty name still queries the rest", "devinfo 0x102B hex \"\"\n", {}, 0xFF, 0x100, "1 1",
       ""},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    ChildResult R = run(OneGPU + "use platform=0 device=0\n" + C.Devinfo, "", C.Env,
                        [&](HostPlugin &P, const fakecl_control_v1 &) {
                          P.number_of_devices();
                          std::printf("init=%d\n", P.init_device(0));
                          std::printf("match=%d %d\n", P.is_supported_device(0, C.MaskA),
                                      P.is_supported_device(0, C.MaskB));
                          // Compute units, local, global and cache memory, clock.
                          std::printf("info=");
                          for (uint32_t Kind : {4u, 10u, 11u, 12u, 13u}) {
                            uint64_t Value = 0;
                            P.get_device_info(0, Kind, sizeof(Value), &Value, nullptr);
                            std::printf(" %llu", static_cast<unsigned long long>(Value));
                          }
                          std::printf("\n");
                          return 0;
                        });
    EXPECT_TRUE(hasLine(R.Stdout, "init=0")) << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stdout, "match=" + C.Matches)) << R.Stdout << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stdout, "info= 32 65536 4294967296 1048576 1500")) << R.Stdout;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + "-- Name                         : " + C.NameLine))
        << R.Stderr;
  }
}

TEST(DeviceInit, CPUArchitecture) {
  ChildResult R = run("platform version=\"OpenCL 3.0 fake\"\ndevice type=cpu\n", "",
                      {{"LIBOMPTARGET_DEVICETYPE", "cpu"}},
                      [](HostPlugin &P, const fakecl_control_v1 &) {
                        P.number_of_devices();
                        P.init_device(0);
                        std::printf("%d %d\n", P.is_supported_device(0, 0x100),
                                    P.is_supported_device(0, 0xFF));
                        return 0;
                      });
  EXPECT_EQ(R.Stdout, "1 0\n") << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Device 0 does not match the requested device types "
                                         "0x00000000000000ff"));
}

TEST(Shutdown, ReleasesExactlyTheInitialisedDevices) {
  const std::string ThreeGPUs =
      "platform version=\"OpenCL 3.0 a\"\ndevice type=gpu\ndevice type=gpu\n"
      "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu\n";
  struct Case {
    const char *Title;
    EnvironmentList Env;
    size_t QueueReleases, ContextReleases;
  } Cases[] = {
      {"own contexts", {}, 2, 2},
      {"single context: platform contexts are released even if unused",
       {{"LIBOMPTARGET_USE_SINGLE_CONTEXT", "1"}}, 2, 2},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    // Both devices of the first platform: the second platform has no initialised device.
    ChildResult R = run(ThreeGPUs, "", C.Env, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
      P.register_lib(nullptr);
      P.number_of_devices();
      P.init_device(0);
      P.init_device(1);
      Fake.reset_log();
      P.unregister_lib(nullptr);
      std::printf("queues=%zu contexts=%zu live=%zu\n",
                  Fake.call_count("clReleaseCommandQueue"), Fake.call_count("clReleaseContext"),
                  Fake.live_objects("context") + Fake.live_objects("queue"));
      return 0;
    });
    EXPECT_EQ(R.Stdout, "queues=" + std::to_string(C.QueueReleases) +
                            " contexts=" + std::to_string(C.ContextReleases) + " live=0\n")
        << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Closed RTL successfully"));
  }
}

TEST(Shutdown, FailedReleaseIsFatal) {
  for (const char *Fn : {"clReleaseCommandQueue", "clReleaseContext"}) {
    SCOPED_TRACE(Fn);
    ChildResult R = run(OneGPU, std::string("fail ") + Fn + " all err=-36", {},
                        [](HostPlugin &P, const fakecl_control_v1 &) {
                          P.register_lib(nullptr);
                          P.number_of_devices();
                          P.init_device(0);
                          P.unregister_lib(nullptr);
                          return 0;
                        });
    EXPECT_EQ(R.ExitStatus, 1);
    EXPECT_NE(R.Stderr.find(std::string("Error: closeRTL:") + Fn + " failed with error code"),
              std::string::npos)
        << R.Stderr;
    EXPECT_EQ(R.Stderr.find("Closed RTL successfully"), std::string::npos);
  }
}

TEST(DeviceQueries, ContextHandleAndDeviceName) {
  ChildResult R = run(OneGPU, "", {},
                      [](HostPlugin &P, const fakecl_control_v1 &) {
                        P.number_of_devices();
                        P.init_device(0);
                        std::printf("context=%d\n", P.get_context_handle(0) != nullptr);
                        char Name[16];
                        char *Got = P.get_device_name(0, Name, sizeof(Name));
                        std::printf("name=%s\n", Got ? Got : "(null)");
                        return 0;
                      });
  EXPECT_TRUE(hasLine(R.Stdout, "context=1"));
  EXPECT_TRUE(hasLine(R.Stdout, "name=G")) << R.Stdout;
}

TEST(DeviceQueries, DeviceNameFailure) {
  ChildResult R = run(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    P.number_of_devices();
    P.init_device(0);
    char Error[128];
    Fake.configure("fail clGetDeviceInfo all err=-30", Error, sizeof(Error));
    char Name[16];
    std::printf("name=%s\n", P.get_device_name(0, Name, sizeof(Name)) ? "set" : "(null)");
    return 0;
  });
  EXPECT_TRUE(hasLine(R.Stdout, "name=(null)"));
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Error: __tgt_rtl_get_device_name:clGetDeviceInfo failed "
                                         "with error code -30, CL_INVALID_VALUE"));
}

TEST(DeviceInit, ExtensionsAreFoundBySubstring) {
  ChildResult R = run(OneGPU + "use platform=0 device=0\n"
                               "devinfo 0x1030 string \"cl_tarno_unified_shared_memory_v2 "
                               "cl_tarno_devicelib_math_fp64\"\n",
                      "", {}, initFirst());
  EXPECT_TRUE(hasLine(R.Stdout, "init=0")) << R.Stderr;
  for (const char *Line :
       {"Extension UnifiedSharedMemory enabled.", "Extension cl_tarno_devicelib_math enabled.",
        "Extension cl_tarno_devicelib_math_fp64 enabled.",
        "Extension clGetDeviceGlobalVariablePointerTARNO enabled.",
        "Extension clGetKernelSuggestedLocalWorkSizeTARNO enabled."})
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + Line)) << Line;
  for (const char *Absent : {"DeviceAttributeQuery enabled", "cl_tarno_devicelib_cassert enabled",
                             "cl_tarno_devicelib_complex enabled"})
    EXPECT_EQ(R.Stderr.find(Absent), std::string::npos) << Absent;
  // Without the attribute query the PCI id is never asked for.
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "-- PCI ID                       : 0x0"));
}

TEST(DeviceInit, CallTextsOfDiscoveryInitialisationAndShutdown) {
  ChildResult R = runWithFakeDriver(
      {FAKECL_PATH, PLUGIN_PATH, OneGPU, "", {{"LIBOMPTARGET_DEBUG", "2"}}}, initFirst());
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  const std::string Caller = Prefix + "CL_CALLER: ";
  std::vector<std::string> Calls;
  for (const std::string &Line : splitLines(R.Stderr))
    if (Line.rfind(Caller, 0) == 0)
      Calls.push_back(Line.substr(Caller.size()));
  std::vector<std::string> Expected = {
      "clGetPlatformIDs ( 0, nullptr, &Count )",
      "clGetPlatformIDs ( Count, PlatformIDs.data(), nullptr )",
      "clGetPlatformInfo ( ID, 0x0901, 0, nullptr, &BufSize )",
      "clGetPlatformInfo ( ID, 0x0901, BufSize, Buf.data(), nullptr )",
      "clGetDeviceIDs ( ID, DeviceInfo->Option.DeviceType, 0, nullptr, &NumDevices )",
      "clGetDeviceIDs ( ID, DeviceInfo->Option.DeviceType, NumDevices, Devices.data(), nullptr )"};
  Expected.insert(Expected.end(), 12,
                  "clGetExtensionFunctionAddressForPlatform ( platform, "
                  "ExtensionFunctionNames[i] )");
  Expected.insert(Expected.end(),
                  {"clCreateContext ( ContextProperties, 1, &Device, nullptr, nullptr )",
                   "clCreateCommandQueueWithProperties ( Context, CLDeviceId, QProperties.data() )",
                   "clGetDeviceInfo ( DeviceId, 0x1030, 0, nullptr, &RetSize )",
                   "clGetDeviceInfo ( DeviceId, 0x1030, RetSize, Data.get(), &RetSize )"});
  for (const char *Param : {"0x4251, sizeof(DeviceId), &DeviceId",
                            "0x4252, sizeof(NumSlices), &NumSlices",
                            "0x4253, sizeof(NumSubslicesPerSlice), &NumSubslicesPerSlice",
                            "0x4254, sizeof(NumEUsPerSubslice), &NumEUsPerSubslice",
                            "0x4255, sizeof(NumThreadsPerEU), &NumThreadsPerEU",
                            "0x1002, sizeof(NumEUs), &NumEUs", "0x102B, 0, nullptr, &BufSize",
                            "0x102B, BufSize, Buf.data(), nullptr",
                            "0x1004, sizeof(MaxWorkGroupSize), &MaxWorkGroupSize",
                            "0x1023, sizeof(LocalMemSize), &LocalMemSize",
                            "0x101F, sizeof(GlobalMemSize), &GlobalMemSize",
                            "0x101E, sizeof(GlobalMemCacheSize), &GlobalMemCacheSize",
                            "0x1010, sizeof(MaxMemAllocSize), &MaxMemAllocSize",
                            "0x100C, sizeof(MaxClockFrequency), &MaxClockFrequency"})
    Expected.push_back(std::string("clGetDeviceInfo ( ID, ") + Param +
                       (std::strstr(Param, "Buf") ? " )" : ", nullptr )"));
  Expected.insert(Expected.end(), {"clReleaseCommandQueue ( DeviceInfo->Queues[I] )",
                                   "clReleaseContext ( DeviceInfo->Contexts[I] )"});
  EXPECT_EQ(Calls, Expected);
}

// The host runtime unregisters from its own exit-time destructor; shutdown then runs inside exit,
// and a fatal release must end the process without entering exit a second time (which would run
// the remaining exit handlers from inside this one).
TEST(Shutdown, FromAnExitHandler) {
  for (const char *Faults : {"", "fail clReleaseCommandQueue all err=-36"}) {
    SCOPED_TRACE(Faults);
    ChildResult R = run(OneGPU, Faults, {}, [](HostPlugin &P, const fakecl_control_v1 &) {
      static HostPlugin *Plugin = &P;
      P.register_lib(nullptr);
      P.number_of_devices();
      P.init_device(0);
      std::atexit([] { std::printf("earlier handler ran\n"); });
      std::atexit([] {
        Plugin->unregister_lib(nullptr);
        std::printf("handler returned\n");
      });
      std::exit(3);
      return 0;
    });
    bool Fatal = *Faults != '\0';
    EXPECT_EQ(R.ExitStatus, Fatal ? 1 : 3) << R.Stderr;
    EXPECT_EQ(R.Stdout, Fatal ? "" : "handler returned\nearlier handler ran\n");
    EXPECT_EQ(hasLine(R.Stderr, Prefix + "Closed RTL successfully"), !Fatal) << R.Stderr;
  }
}
