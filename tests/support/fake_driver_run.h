// Runs the plugin in a child process whose only OpenCL platforms are the fake driver's.
#ifndef TESTS_SUPPORT_FAKE_DRIVER_RUN_H
#define TESTS_SUPPORT_FAKE_DRIVER_RUN_H

#include "child_process.h"
#include "fakecl_control.h"
#include "host_plugin.h"

#include <functional>
#include <string>

struct FakeDriverRun {
  std::string DriverPath; // the fake driver library
  std::string PluginPath; // the plugin library
  std::string Layout;     // platforms and devices, applied before the loader starts
  std::string Faults;     // applied after the loader started, so its own calls count for nothing
  EnvironmentList Env;    // the plugin's environment
};

using FakeDriverBody = std::function<int(HostPlugin &, const fakecl_control_v1 &)>;

// The child configures the driver, starts the loader, applies the faults, clears the call record,
// loads the plugin and runs Body. Exit statuses 90-93 report a broken set-up.
ChildResult runWithFakeDriver(const FakeDriverRun &Run, const FakeDriverBody &Body);

// The child's call record as text.
std::string fakeCallLog(const fakecl_control_v1 &Fake);

#endif
