// Runs a test body in a forked child whose only OpenCL platform layout is the fake driver's.
// The ICD loader enumerates once per process, so every layout needs its own process.
#pragma once

#include "fakecl_client.h"

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>

#include <functional>
#include <string>
#include <vector>

namespace fakecl_test {

// Configures Scenario before the first OpenCL call, runs Body, and reports the child's failures
// (gtest messages appear in the child's output) through a failure in the parent.
void runWithDriver(const std::string &Scenario, const std::function<void(fakecl::Client &)> &Body);
// Same, with extra environment variables set in the child before anything else.
void runWithEnvironment(const std::vector<std::pair<std::string, std::string>> &Env,
                        const std::function<void()> &Body);

std::vector<cl_platform_id> platforms();
std::vector<cl_device_id> devices(cl_platform_id Platform, cl_device_type Type = CL_DEVICE_TYPE_ALL);
std::string platformText(cl_platform_id Platform, cl_platform_info Param);
std::string deviceText(cl_device_id Device, cl_device_info Param);
void *vendorFunction(cl_platform_id Platform, const char *Name);

// One platform and its first device, a context and a queue, released by the destructor.
struct DriverSetup {
  cl_platform_id Platform = nullptr;
  cl_device_id Device = nullptr;
  cl_context Context = nullptr;
  cl_command_queue Queue = nullptr;
  explicit DriverSetup(bool Profiling = true);
  ~DriverSetup();
  template <class Fn> Fn fn(const char *Name) const { return reinterpret_cast<Fn>(vendorFunction(Platform, Name)); }
};

} // namespace fakecl_test
