// Shared set-up of the memory, transfer and profile tests that run the plugin over the fake
// driver: each scenario runs in its own child with the plugin loaded as the host runtime loads it.
#ifndef TESTS_UNIT_MEMORY_FAKE_DRIVER_H
#define TESTS_UNIT_MEMORY_FAKE_DRIVER_H

#include "fake_driver_run.h"
#include "fakecl_client.h"
#include "frame/plugin_state.h"
#include "omptargetplugin.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace memtest {

const std::string OneGPU = "platform version=\"OpenCL 3.0 fake\"\ndevice type=gpu name=\"G\"\n";
const std::string TwoGPUs = OneGPU + "device type=gpu name=\"H\"\n";
const std::string OneCPU = "platform version=\"OpenCL 3.0 fake\"\ndevice type=cpu name=\"C\"\n";
const std::string Prefix = "Target OPENCL RTL --> ";

using Body = std::function<int(HostPlugin &, const fakecl_control_v1 &)>;

// Registers, discovers and initialises every device before Body; shuts down after it unless Body
// returned non-zero. Faults apply after the loader started, so they count from the plugin's calls.
inline ChildResult runPlugin(const std::string &Layout, const std::string &Faults,
                             EnvironmentList Env, const Body &B) {
  return runWithFakeDriver(
      {FAKECL_PATH, PLUGIN_PATH, Layout, Faults, Env},
      [&B](HostPlugin &P, const fakecl_control_v1 &Fake) {
        P.register_lib(nullptr);
        int32_t N = P.number_of_devices();
        P.init_requires(0);
        for (int32_t I = 0; I < N; ++I)
          if (P.init_device(I) != 0)
            return 80;
        Fake.reset_log();
        if (int Rc = B(P, Fake))
          return Rc;
        P.unregister_lib(nullptr);
        return 0;
      });
}

// Runs Body in a child against the plugin code linked into the test, so that its state can be
// inspected directly. Setup adjusts the options before discovery (they were read when the test
// started); every device is initialised and the faults are applied before Body runs.
inline ChildResult runLinked(const std::string &Layout, const std::string &Faults,
                             const std::function<void()> &Setup,
                             const std::function<int(const fakecl::Client &)> &Body) {
  EnvironmentList Env = {{"OCL_ICD_VENDORS", FAKECL_PATH}, {"OCL_ICD_PLATFORM_SORT", "none"}};
  return runInChild(Env, [&]() -> int {
    fakecl::Client Fake(FAKECL_PATH);
    Fake.configure(Layout);
    if (Setup)
      Setup();
    int32_t N = __tgt_rtl_number_of_devices();
    for (int32_t I = 0; I < N; ++I)
      if (__tgt_rtl_init_device(I) != 0)
        return 80;
    Fake.configure(Faults);
    Fake.resetLog();
    return Body(Fake);
  });
}

inline size_t countLines(const std::string &Text, const std::string &Line) {
  std::vector<std::string> Lines = splitLines(Text);
  return static_cast<size_t>(std::count(Lines.begin(), Lines.end(), Line));
}

} // namespace memtest

#endif
