#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace fakecl_test {

static void runInChild(const std::function<void()> &Body) {
  std::fflush(nullptr);
  pid_t Pid = fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    int Code = 0;
    try {
      Body();
      Code = ::testing::Test::HasFailure() ? 1 : 0;
    } catch (const std::exception &E) {
      std::fprintf(stderr, "child: exception: %s\n", E.what());
      Code = 2;
    }
    std::fflush(nullptr);
    _exit(Code);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Pid, &Status, 0), Pid);
  ASSERT_TRUE(WIFEXITED(Status)) << "child ended by signal " << (WIFSIGNALED(Status) ? WTERMSIG(Status) : 0);
  EXPECT_EQ(WEXITSTATUS(Status), 0) << "the child reported failures (see above)";
}

static void useFakeDriver() {
  setenv("OCL_ICD_VENDORS", FAKECL_LIBRARY_PATH, 1);
  setenv("OCL_ICD_PLATFORM_SORT", "none", 1);
  unsetenv("FAKECL_SCENARIO");
  unsetenv("FAKECL_LOG");
}

void runWithDriver(const std::string &Scenario, const std::function<void(fakecl::Client &)> &Body) {
  runInChild([&] {
    useFakeDriver();
    fakecl::Client Fake(FAKECL_LIBRARY_PATH);
    Fake.configure(Scenario);
    Body(Fake);
  });
}

void runWithEnvironment(const std::vector<std::pair<std::string, std::string>> &Env,
                        const std::function<void()> &Body) {
  runInChild([&] {
    useFakeDriver();
    for (auto &E : Env)
      setenv(E.first.c_str(), E.second.c_str(), 1);
    Body();
  });
}

std::vector<cl_platform_id> platforms() {
  cl_uint Count = 0;
  if (clGetPlatformIDs(0, nullptr, &Count) != CL_SUCCESS)
    return {};
  std::vector<cl_platform_id> P(Count);
  EXPECT_EQ(clGetPlatformIDs(Count, P.data(), nullptr), CL_SUCCESS);
  return P;
}

std::vector<cl_device_id> devices(cl_platform_id Platform, cl_device_type Type) {
  cl_uint Count = 0;
  if (clGetDeviceIDs(Platform, Type, 0, nullptr, &Count) != CL_SUCCESS)
    return {};
  std::vector<cl_device_id> D(Count);
  EXPECT_EQ(clGetDeviceIDs(Platform, Type, Count, D.data(), nullptr), CL_SUCCESS);
  return D;
}

std::string platformText(cl_platform_id Platform, cl_platform_info Param) {
  size_t Size = 0;
  EXPECT_EQ(clGetPlatformInfo(Platform, Param, 0, nullptr, &Size), CL_SUCCESS);
  std::string Text(Size, '\0');
  EXPECT_EQ(clGetPlatformInfo(Platform, Param, Size, &Text[0], nullptr), CL_SUCCESS);
  return Text.c_str();
}

std::string deviceText(cl_device_id Device, cl_device_info Param) {
  size_t Size = 0;
  EXPECT_EQ(clGetDeviceInfo(Device, Param, 0, nullptr, &Size), CL_SUCCESS);
  std::string Text(Size, '\0');
  EXPECT_EQ(clGetDeviceInfo(Device, Param, Size, &Text[0], nullptr), CL_SUCCESS);
  return Text.c_str();
}

void *vendorFunction(cl_platform_id Platform, const char *Name) {
  return clGetExtensionFunctionAddressForPlatform(Platform, Name);
}

DriverSetup::DriverSetup(bool Profiling) {
  std::vector<cl_platform_id> P = platforms();
  if (P.empty())
    throw std::runtime_error("no platform");
  Platform = P[0];
  std::vector<cl_device_id> D = devices(Platform);
  if (D.empty())
    throw std::runtime_error("no device");
  Device = D[0];
  cl_int Err = CL_SUCCESS;
  Context = clCreateContext(nullptr, 1, &Device, nullptr, nullptr, &Err);
  if (Err != CL_SUCCESS)
    throw std::runtime_error("no context");
  cl_queue_properties Props[] = {CL_QUEUE_PROPERTIES, Profiling ? cl_queue_properties{CL_QUEUE_PROFILING_ENABLE} : 0, 0};
  Queue = clCreateCommandQueueWithProperties(Context, Device, Props, &Err);
  if (Err != CL_SUCCESS)
    throw std::runtime_error("no queue");
}

DriverSetup::~DriverSetup() {
  clReleaseCommandQueue(Queue);
  clReleaseContext(Context);
}

} // namespace fakecl_test
