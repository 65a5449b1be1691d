// Discovery, initialisation and shutdown of devices over fake OpenCL platforms. Each case runs
// in its own process; the child prints what it saw and the parent checks it.
#include "fake_driver_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

ChildResult run(const std::string &Layout, const std::string &Faults, EnvironmentList Env,
                const FakeDriverBody &Body) {
  return runWithFakeDriver({FAKECL_PATH, PLUGIN_PATH, Layout, Faults, Env}, Body);
}

// Counts devices, initialises those listed, prints each result and device name, shuts down.
FakeDriverBody countAndInit(std::vector<int32_t> Init) {
  return [Init](HostPlugin &P, const fakecl_control_v1 &) {
    P.register_lib(nullptr);
    std::printf("count=%d\n", P.number_of_devices());
    for (int32_t Id : Init) {
      int32_t Rc = P.init_device(Id);
      std::printf("init %d=%d\n", Id, Rc);
      char Name[128];
      if (Rc == 0 && P.get_device_name(Id, Name, sizeof(Name)))
        std::printf("name %d=%s\n", Id, Name);
    }
    P.unregister_lib(nullptr);
    return 0;
  };
}

const char *const DebugOn[] = {"LIBOMPTARGET_DEBUG", "1"};
EnvironmentList debugEnv(EnvironmentList More = {}) {
  More.emplace_back(DebugOn[0], DebugOn[1]);
  return More;
}

} // namespace

TEST(Discovery, PlatformSelection) {
  struct Case {
    const char *Title;
    std::string Layout;
    std::string Faults;
    EnvironmentList Env;
    int Count;
    std::vector<std::string> Names; // of devices 0.. after initialisation
    std::string Error = "";         // the error line a failed query writes
  } Cases[] = {
      {"versions 2.0, 2.1, 3.0",
       "platform version=\"OpenCL 2.0 old\"\ndevice type=gpu name=A\n"
       "platform version=\"OpenCL 2.1 mid\"\ndevice type=gpu name=B\n"
       "platform version=\"OpenCL 3.0 new\"\ndevice type=gpu name=C\n",
       "", {}, 2, {"B", "C"}},
      {"version texts without a number",
       "platform version=\"OpenCL\"\ndevice type=gpu name=A\n"
       "platform version=\"OpenCL next\"\ndevice type=gpu name=B\n"
       "platform version=\"OpenCL 3.0\"\ndevice type=gpu name=C\n",
       "", {}, 1, {"C"}},
      {"no devices of the type",
       "platform version=\"OpenCL 3.0 a\"\ndevice type=cpu name=A\n"
       "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu name=B\ndevice type=cpu name=C\n",
       "", {}, 1, {"B"}},
      {"cpu type",
       "platform version=\"OpenCL 3.0 a\"\ndevice type=cpu name=A\n"
       "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu name=B\ndevice type=cpu name=C\n",
       "", {{"LIBOMPTARGET_DEVICETYPE", "cpu"}}, 2, {"A", "C"}},
      {"two platforms with 2 and 1 devices",
       "platform version=\"OpenCL 3.0 a\"\ndevice type=gpu name=A0\ndevice type=gpu name=A1\n"
       "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu name=B0\n",
       "", {}, 3, {"A0", "A1", "B0"}},
      {"version query failure skips that platform",
       "platform version=\"OpenCL 3.0 a\"\ndevice type=gpu name=A\n"
       "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu name=B\n",
       "fail clGetPlatformInfo nth=1 err=-30", {}, 1, {"B"},
       "clGetPlatformInfo failed with error code -30, CL_INVALID_VALUE"},
      {"text query failure skips that platform",
       "platform version=\"OpenCL 3.0 a\"\ndevice type=gpu name=A\n"
       "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu name=B\n",
       "fail clGetPlatformInfo nth=2 err=-5", {}, 1, {"B"},
       "clGetPlatformInfo failed with error code -5, CL_OUT_OF_RESOURCES"},
      {"device count failure skips that platform",
       "platform version=\"OpenCL 3.0 a\"\ndevice type=gpu name=A\n"
       "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu name=B\n",
       "fail clGetDeviceIDs nth=1 err=-1", {}, 1, {"B"}},
      {"single context, first context fails",
       "platform version=\"OpenCL 3.0 a\"\ndevice type=gpu name=A\n"
       "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu name=B\n",
       "fail clCreateContext nth=1 err=-6", {{"LIBOMPTARGET_USE_SINGLE_CONTEXT", "1"}}, 1, {"B"}},
      {"no platform", "no-platforms\n", "", {}, 0, {},
       "clGetPlatformIDs failed with error code -1001, Unknown Error"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    std::vector<int32_t> Ids;
    for (int32_t I = 0; I < static_cast<int32_t>(C.Names.size()); ++I)
      Ids.push_back(I);
    ChildResult R = run(C.Layout, C.Faults, debugEnv(C.Env), countAndInit(Ids));
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    if (!C.Error.empty()) {
      EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Error: __tgt_rtl_number_of_devices:" +
                                        C.Error))
          << R.Stderr;
    }
    EXPECT_TRUE(hasLine(R.Stdout, "count=" + std::to_string(C.Count))) << R.Stdout;
    for (size_t I = 0; I < C.Names.size(); ++I) {
      EXPECT_TRUE(hasLine(R.Stdout, "init " + std::to_string(I) + "=0")) << R.Stdout << R.Stderr;
      EXPECT_TRUE(hasLine(R.Stdout, "name " + std::to_string(I) + "=" + C.Names[I])) << R.Stdout;
    }
  }
}

TEST(Discovery, FailedDeviceFetchSizesNothing) {
  ChildResult R = run("platform version=\"OpenCL 3.0 a\"\ndevice type=gpu\n"
                      "platform version=\"OpenCL 3.0 b\"\ndevice type=gpu\n",
                      "fail clGetDeviceIDs nth=4 err=-5", debugEnv(), countAndInit({0}));
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stdout, "count=0"));
  EXPECT_TRUE(hasLine(R.Stdout, "init 0=-1"));
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Error: __tgt_rtl_number_of_devices:"
                                "clGetDeviceIDs failed with error code -5, CL_OUT_OF_RESOURCES"));
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Bad device ID 0"));
}

TEST(Discovery, MessagesAndExtensionFunctions) {
  ChildResult R = run("platform version=\"OpenCL 3.0 fake\"\ndevice type=gpu\ndevice type=gpu\n"
                      "extfn clMemFreeTARNO off\nextfn clVelkIndirectAllocationOffsets off\n",
                      "", debugEnv(), countAndInit({}));
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Start initializing OpenCL"));
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Platform OpenCL 3.0 fake has 2 Devices"));
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Extension clHostMemAllocTARNO is found."));
  EXPECT_TRUE(hasLine(R.Stderr,
                      "Target OPENCL RTL --> Warning: Extension clMemFreeTARNO is not found."));
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Warning: Extension "
                                "clVelkIndirectAllocationOffsets is not found."));
  size_t Lookups = 0;
  for (const std::string &L : splitLines(R.Stderr))
    Lookups += L.find("Extension cl") != std::string::npos;
  EXPECT_EQ(Lookups, 12u); // one platform, looked up once
}

TEST(Discovery, NoDevicesWarning) {
  ChildResult R = run("platform version=\"OpenCL 3.0 a\"\ndevice type=gpu\n", "",
                      debugEnv({{"LIBOMPTARGET_DEVICETYPE", "cpu"}}), countAndInit({}));
  EXPECT_TRUE(hasLine(R.Stdout, "count=0"));
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> WARNING: No OpenCL devices found."));
}
