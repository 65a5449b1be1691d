#include "fake_driver_run.h"

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>

#include <cstdio>
#include <dlfcn.h>

namespace {

const fakecl_control_v1 *openFakeDriver(const std::string &Path) {
  // The loader opens the same path later and gets this very instance.
  void *Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle)
    return nullptr;
  return static_cast<const fakecl_control_v1 *>(dlsym(Handle, FAKECL_CONTROL_SYMBOL));
}

bool configure(const fakecl_control_v1 &Fake, const std::string &Text) {
  char Error[512] = {};
  if (Fake.configure(Text.c_str(), Error, sizeof(Error)) == 0)
    return true;
  std::fprintf(stderr, "fake driver scenario: %s\n", Error);
  return false;
}

} // namespace

ChildResult runWithFakeDriver(const FakeDriverRun &Run, const FakeDriverBody &Body) {
  EnvironmentList Env = Run.Env;
  Env.emplace_back("OCL_ICD_VENDORS", Run.DriverPath);
  Env.emplace_back("OCL_ICD_PLATFORM_SORT", "none");
  return runInChild(Env, [&]() -> int {
    const fakecl_control_v1 *Fake = openFakeDriver(Run.DriverPath);
    if (!Fake || !configure(*Fake, Run.Layout))
      return 90;
    cl_uint Count = 0;
    clGetPlatformIDs(0, nullptr, &Count); // the loader starts here
    if (!configure(*Fake, Run.Faults))
      return 91;
    Fake->reset_log();
    HostPlugin Plugin;
    std::string Error;
    if (!loadHostPlugin(Run.PluginPath, Plugin, Error)) {
      std::fprintf(stderr, "plugin: %s\n", Error.c_str());
      return 92;
    }
    return Body(Plugin, *Fake);
  });
}

std::string fakeCallLog(const fakecl_control_v1 &Fake) {
  std::string Log(Fake.call_log(nullptr, 0) + 1, '\0');
  Log.resize(Fake.call_log(&Log[0], Log.size()));
  return Log;
}
