// The scenario language's errors, the environment way in, the call record, traps and exports.
#include "child_process.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace fakecl_test;

namespace {

TEST(FakeclScenario, BadLinesAreRefusedWithTheirLineNumber) {
  runWithDriver("", [](fakecl::Client &Fake) {
    const std::pair<const char *, const char *> Cases[] = {
        {"devinfo 0x1002 u32 x", "bad number x"},
        {"devinfo 0x1002 float 1", "unknown value type float"},
        {"fail clFinish nth=0", "bad call number 0"},
        {"extfn clNotAFunctionTARNO off", "unknown vendor function"},
        {"platform name=\"open", "unterminated quote"},
        {"use platform=9", "no such platform"},
        {"event-times queued=1", "expected: event-times"},
        {"record maybe", "expected: record on|off"},
        {"platform\nfrobnicate", "line 2: unknown command frobnicate"},
    };
    for (auto &C : Cases)
      EXPECT_NE(Fake.tryConfigure(C.first).find(C.second), std::string::npos) << C.first;
    EXPECT_EQ(Fake.tryConfigure("# only a comment\n\n"), "");
  });
}

TEST(FakeclScenario, PlatformLayoutIsFixedOnceEnumeratedButDevicesCanChange) {
  runWithDriver("", [](fakecl::Client &Fake) {
    ASSERT_EQ(platforms().size(), 1u);
    EXPECT_NE(Fake.tryConfigure("platform").find("fixed"), std::string::npos);
    Fake.configure("use platform=0 device=0\ndevinfo 0x102B string Renamed");
    EXPECT_EQ(deviceText(devices(platforms()[0])[0], CL_DEVICE_NAME), "Renamed");
    Fake.reset(); // keeps the enumerated platforms
    EXPECT_EQ(platforms().size(), 1u);
  });
}

TEST(FakeclScenario, ScenarioAndLogFilesFromTheEnvironment) {
  char Dir[] = "/tmp/fakecl-test-XXXXXX";
  ASSERT_NE(mkdtemp(Dir), nullptr);
  std::string Scenario = std::string(Dir) + "/scenario.txt", Log = std::string(Dir) + "/calls.log";
  std::ofstream(Scenario) << "platform name=FromFile\ndevice type=cpu\ndevice type=cpu\n";
  runWithEnvironment({{"FAKECL_SCENARIO", Scenario}, {"FAKECL_LOG", Log}}, [] {
    std::vector<cl_platform_id> P = platforms();
    ASSERT_EQ(P.size(), 1u);
    EXPECT_EQ(platformText(P[0], CL_PLATFORM_NAME), "FromFile");
    EXPECT_EQ(devices(P[0], CL_DEVICE_TYPE_CPU).size(), 2u);
  });
  std::ifstream In(Log);
  std::stringstream Text;
  Text << In.rdbuf();
  EXPECT_NE(Text.str().find("clGetPlatformInfo(0x"), std::string::npos) << Text.str();
  EXPECT_NE(Text.str().find("clGetDeviceIDs(0x"), std::string::npos) << Text.str();
  std::remove(Scenario.c_str());
  std::remove(Log.c_str());
  rmdir(Dir);
}

TEST(FakeclScenario, CallRecordNamesArgumentsAndResults) {
  runWithDriver("", [](fakecl::Client &Fake) {
    cl_device_id D = devices(platforms()[0])[0];
    Fake.resetLog();
    size_t Size = 0;
    clGetDeviceInfo(D, 0x1030, 0, nullptr, &Size);
    std::vector<std::string> Calls = Fake.calls();
    ASSERT_EQ(Calls.size(), 1u);
    char Expected[128];
    std::snprintf(Expected, sizeof(Expected), "clGetDeviceInfo(%p, 0x1030, 0, null, %p) = 0",
                  static_cast<void *>(D), static_cast<void *>(&Size));
    EXPECT_EQ(Calls[0], Expected);
    EXPECT_EQ(Fake.callCount("clGetDeviceInfo"), 1u);
  });
}

TEST(FakeclScenario, RecordOffKeepsNoCallRecordButStillAnswersAndFails) {
  runWithDriver("", [](fakecl::Client &Fake) {
    cl_device_id D = devices(platforms()[0])[0];
    cl_uint Units = 0;
    auto Query = [&] {
      return clGetDeviceInfo(D, CL_DEVICE_MAX_COMPUTE_UNITS, sizeof(Units), &Units, nullptr);
    };
    Fake.resetLog();
    Fake.configure("record off");
    EXPECT_EQ(Query(), CL_SUCCESS);
    EXPECT_NE(Units, 0u);
    Fake.configure("fail clGetDeviceInfo err=-30");
    EXPECT_EQ(Query(), CL_INVALID_VALUE);
    EXPECT_EQ(Fake.callLog(), "");
    Fake.configure("record on");
    EXPECT_EQ(Query(), CL_SUCCESS);
    EXPECT_EQ(Fake.callCount("clGetDeviceInfo"), 1u);
    Fake.configure("record off");
    Fake.reset(); // recording is on again
    EXPECT_EQ(Query(), CL_SUCCESS);
    EXPECT_EQ(Fake.callCount("clGetDeviceInfo"), 1u);
  });
}

TEST(FakeclScenario, UnimplementedFunctionsStopWithTheirName) {
  runWithDriver("", [](fakecl::Client &) {
    DriverSetup S;
    EXPECT_DEATH(clCreateBuffer(S.Context, CL_MEM_READ_WRITE, 16, nullptr, nullptr),
                 "clCreateBuffer is not implemented");
  });
}

TEST(FakeclScenario, OnlyTheLoaderEntryPointsAndTheControlTableAreExported) {
  runWithDriver("", [](fakecl::Client &) {
    void *Lib = dlopen(FAKECL_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(Lib, nullptr);
    for (const char *Name : {"clGetExtensionFunctionAddress", "clIcdGetPlatformIDsKHR", "clGetPlatformInfo",
                             "fakecl_control_v1"})
      EXPECT_NE(dlsym(Lib, Name), nullptr) << Name;
    for (const char *Name : {"clGetDeviceInfo", "clCreateContext", "clEnqueueMemcpyTARNO"})
      EXPECT_EQ(dlsym(Lib, Name), nullptr) << Name;
    dlclose(Lib);
  });
}

} // namespace
