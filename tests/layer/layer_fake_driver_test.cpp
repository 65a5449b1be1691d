// The layer over the scriptable fake driver: a platform that has the extension and SPIR-V itself
// is passed through unchanged, a platform with only SVM gets the layer, and failures of the
// driver's calls reach the caller as the right error codes.
#include "layer_test_env.h"

#include "fakecl_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Platform 0 offers everything itself; platform 1 has coarse- and fine-grained buffer SVM only.
constexpr const char *kLayout = R"(
platform version="OpenCL 3.0 native" name=native
device type=gpu name=native-gpu
devinfo 0x105C u32 0
platform version="OpenCL 3.0 svm-only" name=svm-only
device type=gpu name=svm-gpu extensions="cl_khr_fp64"
devinfo 0x1053 u64 3
devinfo 0x105B unset
)";

constexpr const char *kManifest = "FAKECL-MODULE\nkernel k args=1 argtypes=int* argnames=data\nend";

class FakeDriverTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    const char *Path = std::getenv("OCL_ICD_VENDORS");
    ASSERT_NE(Path, nullptr);
    Fake = std::make_unique<fakecl::Client>(Path);
    Fake->configure(kLayout); // before the first OpenCL call of the process
    cl_uint Count = 0;
    ASSERT_EQ(clGetPlatformIDs(2, Platforms, &Count), CL_SUCCESS);
    ASSERT_EQ(Count, 2u);
    for (int I = 0; I < 2; ++I) {
      ASSERT_EQ(clGetDeviceIDs(Platforms[I], CL_DEVICE_TYPE_ALL, 1, &Devices[I], nullptr),
                CL_SUCCESS);
      Contexts[I] = clCreateContext(nullptr, 1, &Devices[I], nullptr, nullptr, nullptr);
    }
  }
  static void TearDownTestSuite() {
    for (cl_context Context : Contexts)
      if (Context)
        clReleaseContext(Context);
    Fake.reset();
  }
  void SetUp() override {
    Fake->configure("pass all");
    Fake->resetLog();
  }
  static std::unique_ptr<fakecl::Client> Fake;
  static cl_platform_id Platforms[2];
  static cl_device_id Devices[2];
  static cl_context Contexts[2];
};
std::unique_ptr<fakecl::Client> FakeDriverTest::Fake;
cl_platform_id FakeDriverTest::Platforms[2];
cl_device_id FakeDriverTest::Devices[2];
cl_context FakeDriverTest::Contexts[2];

TEST_F(FakeDriverTest, NativePlatformIsPassedThrough) {
  std::string Extensions = deviceText(Devices[0], CL_DEVICE_EXTENSIONS);
  size_t First = Extensions.find("cl_tarno_unified_shared_memory");
  ASSERT_NE(First, std::string::npos);
  EXPECT_EQ(Extensions.find("cl_tarno_unified_shared_memory", First + 1), std::string::npos);

  // The driver's own extension function is handed out and reached.
  using HostAllocFn = void *(CL_API_CALL *)(cl_context, const cl_ulong *, size_t, cl_uint,
                                            cl_int *);
  auto HostAlloc = reinterpret_cast<HostAllocFn>(
      clGetExtensionFunctionAddressForPlatform(Platforms[0], "clHostMemAllocTARNO"));
  ASSERT_NE(HostAlloc, nullptr);
  cl_int Error = CL_SUCCESS;
  void *Ptr = HostAlloc(Contexts[0], nullptr, 64, 0, &Error);
  EXPECT_NE(Ptr, nullptr);
  EXPECT_EQ(Fake->callCount("clHostMemAllocTARNO"), 1u);

  // SPIR-V goes to the driver, and so does vendor exec info.
  cl_program Program = clCreateProgramWithIL(Contexts[0], kManifest, std::strlen(kManifest),
                                             &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  EXPECT_EQ(Fake->callCount("clCreateProgramWithIL"), 1u);
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, "-cl-std=CL2.0", nullptr, nullptr), CL_SUCCESS);
  cl_kernel Kernel = clCreateKernel(Program, "k", &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  void *List[] = {Ptr};
  EXPECT_EQ(clSetKernelExecInfo(Kernel, 0x4203, sizeof(List), List), CL_SUCCESS);
  std::vector<std::string> ExecInfo = Fake->calls("clSetKernelExecInfo");
  ASSERT_EQ(ExecInfo.size(), 1u);
  EXPECT_NE(ExecInfo[0].find("4203"), std::string::npos) << ExecInfo[0];
  char Name[16] = {};
  EXPECT_EQ(clGetKernelArgInfo(Kernel, 0, CL_KERNEL_ARG_NAME, sizeof(Name), Name, nullptr),
            CL_SUCCESS);
  EXPECT_STREQ(Name, "data");
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
}

TEST_F(FakeDriverTest, TimerAndSubGroupAnswersOnlyReplaceUnsupportedCalls) {
  Fake->configure("timer device=111 host=222");
  cl_ulong Device = 0, Host = 0;
  ASSERT_EQ(clGetDeviceAndHostTimer(Devices[0], &Device, &Host), CL_SUCCESS);
  EXPECT_EQ(Device, 111u);
  EXPECT_EQ(Host, 222u);
  Fake->configure("fail clGetDeviceAndHostTimer err=-30");
  EXPECT_EQ(clGetDeviceAndHostTimer(Devices[0], &Device, &Host), CL_INVALID_VALUE);
  Fake->configure("fail clGetDeviceAndHostTimer err=-59\nfail clGetHostTimer err=-59");
  EXPECT_EQ(clGetDeviceAndHostTimer(Devices[0], &Device, &Host), CL_SUCCESS);
  EXPECT_EQ(Device, Host);
  EXPECT_EQ(clGetHostTimer(Devices[0], &Host), CL_SUCCESS);
  EXPECT_GE(Host, Device);

  cl_int Error = CL_SUCCESS;
  const char *Source = kManifest;
  cl_program Program = clCreateProgramWithSource(Contexts[0], 1, &Source, nullptr, &Error);
  clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr);
  cl_kernel Kernel = clCreateKernel(Program, "k", &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  size_t Width = 0;
  Fake->configure("fail clGetKernelSubGroupInfo err=-59");
  EXPECT_EQ(clGetKernelSubGroupInfo(Kernel, Devices[0], CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE,
                                    sizeof(Width), &Width, sizeof(Width), &Width, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(Width, 1u);
  Fake->configure("fail clGetKernelSubGroupInfo err=-48");
  EXPECT_EQ(clGetKernelSubGroupInfo(Kernel, Devices[0], CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE,
                                    sizeof(Width), &Width, sizeof(Width), &Width, nullptr),
            CL_INVALID_KERNEL);
  // Argument information of a driver's program stays the driver's answer.
  Fake->configure("fail clGetKernelArgInfo err=-19");
  char Name[16];
  EXPECT_EQ(clGetKernelArgInfo(Kernel, 0, CL_KERNEL_ARG_NAME, sizeof(Name), Name, nullptr),
            CL_KERNEL_ARG_INFO_NOT_AVAILABLE);
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
}

TEST_F(FakeDriverTest, SvmPlatformGetsTheExtensionAndSpirv) {
  std::string Extensions = deviceText(Devices[1], CL_DEVICE_EXTENSIONS);
  EXPECT_EQ(Extensions, "cl_khr_fp64 cl_tarno_unified_shared_memory");
  EXPECT_NE(deviceText(Devices[1], CL_DEVICE_IL_VERSION).find("SPIR-V"), std::string::npos);
  for (const char *Name : kUsmFunctionNames)
    EXPECT_NE(clGetExtensionFunctionAddressForPlatform(Platforms[1], Name), nullptr) << Name;

  std::vector<char> Spirv = readKernel("usm_access.spv");
  cl_int Error = CL_SUCCESS;
  cl_program Program = clCreateProgramWithIL(Contexts[1], Spirv.data(), Spirv.size(), &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  EXPECT_EQ(Fake->callCount("clCreateProgramWithIL"), 0u) << "the layer keeps the module";
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS)
      << programBuildLog(Program, Devices[1]);
  EXPECT_EQ(Fake->callCount("clCreateProgramWithBinary"), 1u);
  EXPECT_EQ(Fake->callCount("clBuildProgram"), 1u);
  clReleaseProgram(Program);
  EXPECT_EQ(Fake->liveObjects("program"), 0u);
}

TEST_F(FakeDriverTest, DriverFailuresBecomeTheRightErrors) {
  Fake->configure("use platform=1 device=0\ndevinfo 0x1030 fail -6");
  size_t Size = 0;
  EXPECT_EQ(clGetDeviceInfo(Devices[1], CL_DEVICE_EXTENSIONS, 0, nullptr, &Size),
            CL_OUT_OF_HOST_MEMORY);
  Fake->configure("devinfo 0x1030 string \"cl_khr_fp64\"");

  cl_int Error = CL_SUCCESS;
  Fake->configure("fail clCreateContext err=-6");
  EXPECT_EQ(clCreateContext(nullptr, 1, &Devices[1], nullptr, nullptr, &Error), nullptr);
  EXPECT_EQ(Error, CL_OUT_OF_HOST_MEMORY);

  std::vector<char> Spirv = readKernel("usm_access.spv");
  Fake->configure("fail clCreateProgramWithSource err=-6");
  EXPECT_EQ(clCreateProgramWithIL(Contexts[1], Spirv.data(), Spirv.size(), &Error), nullptr);
  EXPECT_EQ(Error, CL_OUT_OF_HOST_MEMORY);

  cl_program Program = clCreateProgramWithIL(Contexts[1], Spirv.data(), Spirv.size(), &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  Fake->configure("build-log \"the fake refuses\"\nfail clBuildProgram err=-11");
  EXPECT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr),
            CL_BUILD_PROGRAM_FAILURE);
  EXPECT_NE(programBuildLog(Program, Devices[1]).find("the fake refuses"), std::string::npos);
  Fake->configure("fail clCreateProgramWithBinary err=-42");
  EXPECT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr),
            CL_BUILD_PROGRAM_FAILURE);
  EXPECT_NE(programBuildLog(Program, Devices[1]).find("-42"), std::string::npos);
  clReleaseProgram(Program);
  EXPECT_EQ(Fake->liveObjects("program"), 0u);
}

} // namespace
