// The layer over the scriptable fake driver: a platform that has the extension and SPIR-V itself
// is passed through unchanged, a platform with only SVM gets the layer, and failures of the
// driver's calls reach the caller as the right error codes.
#include "layer_test_env.h"

#include "fakecl_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace {

// Platform 0 offers everything itself; platform 1 has coarse- and fine-grained buffer SVM only,
// platform 2 coarse-grained buffer SVM only. Neither has host timers or sub-groups.
constexpr const char *kLayout = R"(
platform version="OpenCL 3.0 native" name=native
platinfo 0x0905 u64 0
device type=gpu name=native-gpu
devinfo 0x105C u32 0
platform version="OpenCL 3.0 svm-only" name=svm-only
platinfo 0x0905 u64 0
device type=gpu name=svm-gpu extensions="cl_khr_fp64"
devinfo 0x1053 u64 3
devinfo 0x105B unset
devinfo 0x105C u32 0
platform version="OpenCL 3.0 coarse" name=coarse-only
device type=gpu name=coarse-gpu extensions="cl_khr_fp64"
devinfo 0x1053 u64 1
devinfo 0x105B unset
)";
constexpr int kPlatforms = 3;

constexpr const char *kManifest = "FAKECL-MODULE\nkernel k args=1 argtypes=int* argnames=data\nend";

class FakeDriverTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    const char *Path = std::getenv("OCL_ICD_VENDORS");
    ASSERT_NE(Path, nullptr);
    Fake = std::make_unique<fakecl::Client>(Path);
    Fake->configure(kLayout); // before the first OpenCL call of the process
    cl_uint Count = 0;
    ASSERT_EQ(clGetPlatformIDs(kPlatforms, Platforms, &Count), CL_SUCCESS);
    ASSERT_EQ(Count, cl_uint(kPlatforms));
    for (int I = 0; I < kPlatforms; ++I) {
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
  static cl_platform_id Platforms[kPlatforms];
  static cl_device_id Devices[kPlatforms];
  static cl_context Contexts[kPlatforms];
};
std::unique_ptr<fakecl::Client> FakeDriverTest::Fake;
cl_platform_id FakeDriverTest::Platforms[kPlatforms];
cl_device_id FakeDriverTest::Devices[kPlatforms];
cl_context FakeDriverTest::Contexts[kPlatforms];

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

// Timers and sub-groups are answered only where the driver has none and only for devices the
// layer serves; the platform's host timer resolution and the device's sub-group count then agree.
TEST_F(FakeDriverTest, TimerAndSubGroupAnswersOnlyForServedDevicesAndAgreeWithQueries) {
  cl_int Error = CL_SUCCESS;
  const char *Source = kManifest;
  cl_kernel Kernels[2];
  cl_program Programs[2];
  for (int I = 0; I < 2; ++I) {
    Programs[I] = clCreateProgramWithSource(Contexts[I], 1, &Source, nullptr, &Error);
    clBuildProgram(Programs[I], 0, nullptr, nullptr, nullptr, nullptr);
    Kernels[I] = clCreateKernel(Programs[I], "k", &Error);
    ASSERT_EQ(Error, CL_SUCCESS);
  }
  auto Timers = [](cl_device_id Device) {
    cl_ulong DeviceTime = 0, Host = 0, HostAlone = 0;
    cl_int Both = clGetDeviceAndHostTimer(Device, &DeviceTime, &Host);
    cl_int Alone = clGetHostTimer(Device, &HostAlone);
    bool Ordered = Both != CL_SUCCESS || Alone != CL_SUCCESS || HostAlone >= Host;
    return std::to_string(Both) + " " + std::to_string(Alone) + (Ordered ? "" : " unordered");
  };
  auto Width = [&](int I) {
    size_t Value = 0;
    cl_int Result = clGetKernelSubGroupInfo(Kernels[I], Devices[I],
                                            CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE,
                                            sizeof(Value), &Value, sizeof(Value), &Value, nullptr);
    return std::to_string(Result) + " " + std::to_string(Value);
  };
  auto Counts = [&](int I) {
    cl_ulong Resolution = 7;
    cl_uint SubGroups = 7;
    clGetPlatformInfo(Platforms[I], CL_PLATFORM_HOST_TIMER_RESOLUTION, sizeof(Resolution),
                      &Resolution, nullptr);
    clGetDeviceInfo(Devices[I], CL_DEVICE_MAX_NUM_SUB_GROUPS, sizeof(SubGroups), &SubGroups,
                    nullptr);
    return std::to_string(Resolution) + " " + std::to_string(SubGroups);
  };
  const char *TimerFaults = "fail clGetDeviceAndHostTimer err=-59 all\nfail clGetHostTimer err=-59 all";
  const char *SubGroupFaults = "fail clGetKernelSubGroupInfo err=-59 all";
  const struct {
    const char *Fault;
    std::function<std::string()> Query;
    const char *Expected;
  } Cases[] = {
      {"timer device=111 host=222", [&] { return Timers(Devices[0]); }, "0 0"},
      {"fail clGetDeviceAndHostTimer err=-30", [&] { return Timers(Devices[1]); }, "-30 0"},
      {TimerFaults, [&] { return Timers(Devices[0]); }, "-59 -59"},
      {TimerFaults, [&] { return Timers(Devices[1]); }, "0 0"},
      {SubGroupFaults, [&] { return Width(0); }, "-59 0"},
      {SubGroupFaults, [&] { return Width(1); }, "0 1"},
      {"fail clGetKernelSubGroupInfo err=-48", [&] { return Width(1); }, "-48 0"},
      {"pass all", [&] { return Counts(0); }, "0 0"},
      // The fake's device allows work-groups of 256 work-items: as many sub-groups of one.
      {"pass all", [&] { return Counts(1); }, "1 256"},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Fault);
    Fake->configure(Case.Fault);
    EXPECT_EQ(Case.Query(), Case.Expected);
    Fake->configure("pass all");
  }
  // Argument information of a driver's program stays the driver's answer.
  Fake->configure("fail clGetKernelArgInfo err=-19");
  char Name[16];
  EXPECT_EQ(clGetKernelArgInfo(Kernels[0], 0, CL_KERNEL_ARG_NAME, sizeof(Name), Name, nullptr),
            CL_KERNEL_ARG_INFO_NOT_AVAILABLE);
  for (int I = 0; I < 2; ++I) {
    clReleaseKernel(Kernels[I]);
    clReleaseProgram(Programs[I]);
  }
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
  Fake->configure("use platform=1 device=0\ndevinfo 0x1060 fail -6");
  size_t Size = 0;
  EXPECT_EQ(clGetDeviceInfo(Devices[1], CL_DEVICE_EXTENSIONS_WITH_VERSION, 0, nullptr, &Size),
            CL_OUT_OF_HOST_MEMORY);
  Fake->configure("devinfo 0x1060 unset");

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

// A build callback may ask about the program it is told of; the layer holds no lock meanwhile.
TEST_F(FakeDriverTest, BuildCallbackMayQueryTheProgram) {
  const char *Source = kManifest;
  cl_int Error = CL_SUCCESS;
  cl_program Program = clCreateProgramWithSource(Contexts[1], 1, &Source, nullptr, &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  std::pair<cl_device_id, cl_build_status> Seen = {Devices[1], CL_BUILD_NONE};
  auto Notify = [](cl_program Built, void *Data) {
    auto &[Device, Status] = *static_cast<std::pair<cl_device_id, cl_build_status> *>(Data);
    clGetProgramBuildInfo(Built, Device, CL_PROGRAM_BUILD_STATUS, sizeof(Status), &Status,
                          nullptr);
  };
  EXPECT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, Notify, &Seen), CL_SUCCESS);
  EXPECT_EQ(Seen.second, CL_BUILD_SUCCESS);
  clReleaseProgram(Program);
}

template <typename Fn> Fn extensionFunction(cl_platform_id Platform, const char *Name) {
  return reinterpret_cast<Fn>(clGetExtensionFunctionAddressForPlatform(Platform, Name));
}

using AllocFn = void *(CL_API_CALL *)(cl_context, cl_device_id, const cl_ulong *, size_t, cl_uint,
                                      cl_int *);
using FreeFn = cl_int(CL_API_CALL *)(cl_context, void *);

// Host and shared memory must be usable by the host without mapping: where the devices have only
// coarse-grained SVM, only device memory is offered.
TEST_F(FakeDriverTest, HostUsableKindsNeedFineGrainedSvm) {
  const struct {
    const char *Function;
    int Platform;
    cl_int Expected;
  } Cases[] = {
      {"clHostMemAllocTARNO", 1, CL_SUCCESS},   {"clSharedMemAllocTARNO", 1, CL_SUCCESS},
      {"clDeviceMemAllocTARNO", 1, CL_SUCCESS}, {"clHostMemAllocTARNO", 2, CL_INVALID_OPERATION},
      {"clSharedMemAllocTARNO", 2, CL_INVALID_OPERATION},
      {"clDeviceMemAllocTARNO", 2, CL_SUCCESS},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(std::string(Case.Function) + " on platform " + std::to_string(Case.Platform));
    int P = Case.Platform;
    cl_int Error = -1;
    void *Ptr = nullptr;
    if (std::strcmp(Case.Function, "clHostMemAllocTARNO") == 0)
      Ptr = extensionFunction<void *(CL_API_CALL *)(cl_context, const cl_ulong *, size_t, cl_uint,
                                                    cl_int *)>(Platforms[P], Case.Function)(
          Contexts[P], nullptr, 64, 0, &Error);
    else
      Ptr = extensionFunction<AllocFn>(Platforms[P], Case.Function)(Contexts[P], Devices[P],
                                                                     nullptr, 64, 0, &Error);
    EXPECT_EQ(Error, Case.Expected);
    EXPECT_EQ(Ptr != nullptr, Case.Expected == CL_SUCCESS);
    if (Ptr)
      extensionFunction<FreeFn>(Platforms[P], "clMemFreeTARNO")(Contexts[P], Ptr);
  }
}

// The fake's kernel body keeps the pointer list of each launch.
void keepPointerList(const fakecl_launch *Launch, void *Lists) {
  auto &Kept = *static_cast<std::vector<std::vector<void *>> *>(Lists);
  Kept.emplace_back(Launch->indirect_pointers,
                    Launch->indirect_pointers + Launch->num_indirect_pointers);
}

// Program-scope variables reach the driver's pointer list at every launch, allocations as soon as
// the kernel may reach their kind, named pointers as their allocation's base; the list is sent
// again only when something changed.
TEST_F(FakeDriverTest, LaunchesGiveTheDriverEveryPointerTheKernelMayReach) {
  size_t Before = Fake->liveObjects("usm");
  // The manifest that gives the fake's program its kernel travels in a parameter name; the
  // kernel's second argument is the hidden one that carries the program's variables.
  std::vector<uint32_t> Words = spirvWordsOf(readKernel("program_globals.spv"));
  std::vector<uint32_t> Named(Words.begin(), Words.begin() + 5);
  std::vector<uint32_t> Manifest =
      spirvString("value\nFAKECL-MODULE\nkernel set_counter args=2\nend\n");
  for (size_t At = 5, Count; At < Words.size(); At += Count) {
    Count = Words[At] >> 16;
    std::vector<uint32_t> Instruction(Words.begin() + At, Words.begin() + At + Count);
    if ((Instruction[0] & 0xFFFF) == 5 &&
        std::vector<uint32_t>(Instruction.begin() + 2, Instruction.end()) == spirvString("value")) {
      Instruction.resize(2);
      Instruction.insert(Instruction.end(), Manifest.begin(), Manifest.end());
      Instruction[0] = uint32_t(Instruction.size()) << 16 | 5;
    }
    Named.insert(Named.end(), Instruction.begin(), Instruction.end());
  }
  std::vector<char> Bytes = spirvBytesOf(Named);
  cl_int Error = CL_SUCCESS;
  cl_program Program = clCreateProgramWithIL(Contexts[1], Bytes.data(), Bytes.size(), &Error);
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS)
      << programBuildLog(Program, Devices[1]);
  cl_kernel Kernel = clCreateKernel(Program, "set_counter", &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  int Value = 1;
  clSetKernelArg(Kernel, 0, sizeof(Value), &Value);
  cl_uint Arguments = 0;
  clGetKernelInfo(Kernel, CL_KERNEL_NUM_ARGS, sizeof(Arguments), &Arguments, nullptr);
  EXPECT_EQ(Arguments, 1u);
  EXPECT_EQ(clSetKernelArg(Kernel, 1, sizeof(Value), &Value), CL_INVALID_ARG_INDEX);

  auto GlobalPointer = extensionFunction<cl_int(CL_API_CALL *)(cl_device_id, cl_program,
                                                              const char *, size_t *, void **)>(
      Platforms[1], "clGetDeviceGlobalVariablePointerTARNO");
  auto AllocInfo = extensionFunction<cl_int(CL_API_CALL *)(cl_context, const void *, cl_uint,
                                                          size_t, void *, size_t *)>(
      Platforms[1], "clGetMemAllocInfoTARNO");
  auto DeviceAlloc = extensionFunction<AllocFn>(Platforms[1], "clDeviceMemAllocTARNO");
  auto SharedAlloc = extensionFunction<AllocFn>(Platforms[1], "clSharedMemAllocTARNO");
  auto MemFree = extensionFunction<FreeFn>(Platforms[1], "clMemFreeTARNO");
  void *Counter = nullptr;
  ASSERT_EQ(GlobalPointer(Devices[1], Program, "counter", nullptr, &Counter), CL_SUCCESS);
  // The variables live in plain SVM of the driver's, not in shared-memory allocations.
  void *Globals = Fake->usmInfo(Counter).base;
  ASSERT_NE(Globals, nullptr);
  cl_uint Type = 0;
  ASSERT_EQ(AllocInfo(Contexts[1], Counter, 0x419A, sizeof(Type), &Type, nullptr), CL_SUCCESS);
  EXPECT_EQ(Type, kTypeUnknown);
  auto *Device = static_cast<char *>(DeviceAlloc(Contexts[1], Devices[1], nullptr, 64, 0, &Error));
  auto *Shared = static_cast<char *>(SharedAlloc(Contexts[1], Devices[1], nullptr, 64, 0, &Error));
  std::vector<std::vector<void *>> Lists;
  Fake->setKernelBody("set_counter", keepPointerList, &Lists);
  cl_command_queue Queue = clCreateCommandQueueWithProperties(Contexts[1], Devices[1], nullptr,
                                                              &Error);
  auto Launch = [&] {
    size_t Global = 1;
    EXPECT_EQ(clEnqueueNDRangeKernel(Queue, Kernel, 1, nullptr, &Global, nullptr, 0, nullptr,
                                     nullptr),
              CL_SUCCESS);
    clFinish(Queue);
  };
  // The program's variables come first, as the SPIR-V layer's own list; the rest sorted.
  auto Sorted = [&](std::vector<void *> List) {
    std::sort(List.begin(), List.end());
    List.insert(List.begin(), Globals);
    return List;
  };
  cl_bool On = CL_TRUE;
  void *Pointers[] = {Shared + 8};
  Launch(); // nothing asked for: the program's variables all the same
  ASSERT_EQ(clSetKernelExecInfo(Kernel, 0x4201, sizeof(On), &On), CL_SUCCESS);
  Launch();
  size_t Sent = Fake->callCount("clSetKernelExecInfo");
  // The same setting again, as a runtime repeats it before every launch: nothing changed, nothing
  // sent.
  ASSERT_EQ(clSetKernelExecInfo(Kernel, 0x4201, sizeof(On), &On), CL_SUCCESS);
  Launch();
  EXPECT_EQ(Fake->callCount("clSetKernelExecInfo"), Sent);
  ASSERT_EQ(clSetKernelExecInfo(Kernel, 0x4203, sizeof(Pointers), Pointers), CL_SUCCESS);
  Launch();
  auto *Later = static_cast<char *>(DeviceAlloc(Contexts[1], Devices[1], nullptr, 64, 0, &Error));
  Launch();
  MemFree(Contexts[1], Device);
  Launch();
  std::vector<std::vector<void *>> Expected = {
      {Globals},
      Sorted({Device}),
      Sorted({Device}),
      Sorted({Device, Shared}),
      Sorted({Device, Shared, Later}),
      Sorted({Shared, Later})};
  EXPECT_EQ(Lists, Expected);
  Fake->setKernelBody("set_counter", nullptr);
  MemFree(Contexts[1], Shared);
  MemFree(Contexts[1], Later);
  clReleaseCommandQueue(Queue);
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
  EXPECT_EQ(Fake->liveObjects("usm"), Before);
}

// A driver call the layer makes to set something up fails the call that needed it, with the
// driver's error and nothing left behind: a kernel without its hidden argument, memory freed
// while work may still use it, or a context the layer cannot describe would each fail later.
TEST_F(FakeDriverTest, FailedSetUpFailsTheCallAndLeavesNothing) {
  Fake->configure("binary-module \"kernel set_counter args=2\"");
  std::vector<char> Spirv = readKernel("program_globals.spv");
  cl_int Error = CL_SUCCESS;
  cl_program Program = clCreateProgramWithIL(Contexts[1], Spirv.data(), Spirv.size(), &Error);
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS)
      << programBuildLog(Program, Devices[1]);
  cl_command_queue Queue = clCreateCommandQueueWithProperties(Contexts[1], Devices[1], nullptr,
                                                              &Error);
  auto SharedAlloc = extensionFunction<AllocFn>(Platforms[1], "clSharedMemAllocTARNO");
  auto BlockingFree = extensionFunction<FreeFn>(Platforms[1], "clMemBlockingFreeTARNO");
  void *Data = SharedAlloc(Contexts[1], Devices[1], nullptr, 64, 0, &Error);
  ASSERT_NE(Data, nullptr);
  auto CreateKernel = [&] {
    cl_int Code = CL_SUCCESS;
    cl_kernel Kernel = clCreateKernel(Program, "set_counter", &Code);
    EXPECT_EQ(Kernel == nullptr, Code != CL_SUCCESS);
    return Code;
  };
  // Lists too long to hold make the layers' own containers throw; each layer owns one of these.
  cl_kernel Owned = clCreateKernel(Program, "set_counter", &Error);
  const char *Source = kManifest;
  cl_program Plain = clCreateProgramWithSource(Contexts[1], 1, &Source, nullptr, &Error);
  clBuildProgram(Plain, 0, nullptr, nullptr, nullptr, nullptr);
  cl_kernel PlainKernel = clCreateKernel(Plain, "k", &Error);
  void *Unread = nullptr;
  size_t Huge = ~size_t(0) & ~(sizeof(void *) - 1);
  const struct {
    const char *Fault;
    std::function<cl_int()> Call;
  } Cases[] = {
      {"fail clGetKernelInfo err=-6", CreateKernel},
      {"fail clRetainProgram err=-6", CreateKernel},
      {"fail clSetKernelArgSVMPointer err=-6", CreateKernel},
      {"fail clFinish err=-6", [&] { return BlockingFree(Contexts[1], Data); }},
      {"fail clRetainCommandQueue err=-6", [&] { return BlockingFree(Contexts[1], Data); }},
      {"fail clGetContextInfo err=-6",
       [&] {
         cl_int Code = CL_SUCCESS;
         EXPECT_EQ(clCreateContext(nullptr, 1, &Devices[1], nullptr, nullptr, &Code), nullptr);
         return Code;
       }},
      {"pass all",
       [&] { return clSetKernelExecInfo(Owned, CL_KERNEL_EXEC_INFO_SVM_PTRS, Huge, &Unread); }},
      {"pass all", [&] { return clSetKernelExecInfo(PlainKernel, 0x4203, Huge, &Unread); }},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Fault);
    size_t Live = Fake->liveObjects();
    Fake->configure(Case.Fault);
    EXPECT_EQ(Case.Call(), CL_OUT_OF_HOST_MEMORY);
    Fake->configure("pass all");
    EXPECT_EQ(Fake->liveObjects(), Live);
  }
  // What failed works once the driver does.
  cl_kernel Kernel = clCreateKernel(Program, "set_counter", &Error);
  EXPECT_EQ(Error, CL_SUCCESS);
  EXPECT_EQ(BlockingFree(Contexts[1], Data), CL_SUCCESS);
  clReleaseKernel(Kernel);
  clReleaseKernel(Owned);
  clReleaseKernel(PlainKernel);
  clReleaseProgram(Plain);
  clReleaseCommandQueue(Queue);
  clReleaseProgram(Program);
  Fake->configure("binary-module \"\"");
}

// What the layers send the driver for calls they take part in, as an ordered log of driver calls:
// nothing waits on the host, a zero-byte copy is a command of its queue, the caller's own SVM
// pointer list joins the layer's and an empty one clears it, and a program's variables are freed
// after the work queued so far.
TEST_F(FakeDriverTest, DriverCallsFollowTheCallersCallsWithoutWaiting) {
  Fake->configure("deferred on\nbinary-module \"kernel set_counter args=2\"");
  size_t LiveUsm = Fake->liveObjects("usm");
  cl_int Error = CL_SUCCESS;
  cl_command_queue Queue = clCreateCommandQueueWithProperties(Contexts[1], Devices[1], nullptr,
                                                              &Error);
  const char *Source = kManifest;
  cl_program Plain = clCreateProgramWithSource(Contexts[1], 1, &Source, nullptr, &Error);
  clBuildProgram(Plain, 0, nullptr, nullptr, nullptr, nullptr);
  cl_kernel Kernel = clCreateKernel(Plain, "k", &Error);
  std::vector<char> Spirv = readKernel("program_globals.spv");
  cl_program Globals = clCreateProgramWithIL(Contexts[1], Spirv.data(), Spirv.size(), &Error);
  ASSERT_EQ(clBuildProgram(Globals, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS);
  cl_kernel Setter = clCreateKernel(Globals, "set_counter", &Error);
  int Value = 1;
  clSetKernelArg(Setter, 0, sizeof(Value), &Value);
  auto DeviceAlloc = extensionFunction<AllocFn>(Platforms[1], "clDeviceMemAllocTARNO");
  auto MemFree = extensionFunction<FreeFn>(Platforms[1], "clMemFreeTARNO");
  using CopyFn = cl_int(CL_API_CALL *)(cl_command_queue, cl_bool, void *, const void *, size_t,
                                       cl_uint, const cl_event *, cl_event *);
  auto Memcpy = extensionFunction<CopyFn>(Platforms[1], "clEnqueueMemcpyTARNO");
  void *Device = DeviceAlloc(Contexts[1], Devices[1], nullptr, 64, 0, &Error);
  void *Svm = clSVMAlloc(Contexts[1], CL_MEM_READ_WRITE, 64, 0);
  clSetKernelArg(Kernel, 0, sizeof(Device), &Device);
  std::vector<std::vector<void *>> Lists;
  Fake->setKernelBody("k", keepPointerList, &Lists);
  size_t Global = 1;
  auto Launch = [&] {
    return clEnqueueNDRangeKernel(Queue, Kernel, 1, nullptr, &Global, nullptr, 0, nullptr,
                                  nullptr);
  };
  cl_bool On = CL_TRUE, Off = CL_FALSE;
  void *Own[] = {Svm};
  cl_event Before = nullptr, Done = nullptr;
  const struct {
    const char *What;
    std::function<void()> Calls;
    std::vector<std::string> Expected;
  } Cases[] = {
      {"zero-byte copy",
       [&] {
         clEnqueueMarkerWithWaitList(Queue, 0, nullptr, &Before);
         Fake->resetLog();
         EXPECT_EQ(Memcpy(Queue, CL_FALSE, Svm, Svm, 0, 1, &Before, &Done), CL_SUCCESS);
         cl_command_queue Owner = nullptr;
         cl_int Status = CL_COMPLETE;
         clGetEventInfo(Done, CL_EVENT_COMMAND_QUEUE, sizeof(Owner), &Owner, nullptr);
         clGetEventInfo(Done, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status, nullptr);
         EXPECT_EQ(Owner, Queue);
         EXPECT_NE(Status, CL_COMPLETE);
       },
       {"clEnqueueMarkerWithWaitList", "clGetEventInfo", "clGetEventInfo"}},
      {"own list and indirect device access",
       [&] {
         clSetKernelExecInfo(Kernel, 0x4201, sizeof(On), &On);
         clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS, sizeof(Own), Own);
         Launch();
       },
       {"clSetKernelExecInfo", "clEnqueueNDRangeKernel"}},
      {"empty own list, no indirect access",
       [&] {
         clSetKernelExecInfo(Kernel, 0x4201, sizeof(Off), &Off);
         clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS, 0, Own);
         Launch();
         clFinish(Queue);
       },
       {"clSetKernelExecInfo", "clEnqueueNDRangeKernel", "clFinish"}},
      {"program release with its kernel queued",
       [&] {
         clEnqueueNDRangeKernel(Queue, Setter, 1, nullptr, &Global, nullptr, 0, nullptr, nullptr);
         Fake->resetLog();
         clReleaseKernel(Setter);
         clReleaseProgram(Globals);
       },
       // The kernel's hold on its program, the executable; then a marker in each queue of the
       // context (with one left by a queue an earlier test released), the block's free on a
       // private queue after them (which the layer below marks too, as it holds memory in the
       // context), and the program variables' hold on the context; the program last.
       {"clReleaseKernel", "clReleaseProgram", "clReleaseProgram", "clRetainCommandQueue",
        "clRetainEvent", "clEnqueueMarkerWithWaitList", "clCreateCommandQueueWithProperties",
        "clEnqueueSVMFree", "clEnqueueMarkerWithWaitList", "clReleaseCommandQueue",
        "clReleaseCommandQueue", "clReleaseEvent", "clReleaseEvent", "clReleaseContext",
        "clReleaseProgram"}},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.What);
    Fake->resetLog();
    Case.Calls();
    std::vector<std::string> Names;
    for (const std::string &Line : Fake->calls())
      Names.push_back(Line.substr(0, Line.find('(')));
    EXPECT_EQ(Names, Case.Expected);
  }
  // The caller's list first, as given; the layer's pointers after it.
  std::vector<std::vector<void *>> Expected = {{Svm, Device}, {}};
  EXPECT_EQ(Lists, Expected);
  Fake->setKernelBody("k", nullptr);
  clReleaseEvent(Before);
  clReleaseEvent(Done);
  clReleaseKernel(Kernel);
  clReleaseProgram(Plain);
  clReleaseCommandQueue(Queue);
  MemFree(Contexts[1], Device);
  clSVMFree(Contexts[1], Svm);
  EXPECT_EQ(Fake->liveObjects("usm"), LiveUsm) << "the program's variables were not freed";
  Fake->configure("deferred off\nbinary-module \"\"");
}

// The fake's kernel body notes whether the memory it was given is still allocated.
void checkMemoryLive(const fakecl_launch *Launch, void *Live) {
  auto &Fake = *static_cast<fakecl::Client *>(static_cast<void **>(Live)[0]);
  *static_cast<bool *>(static_cast<void **>(Live)[1]) =
      Launch->num_indirect_pointers == 1 && Fake.usmInfo(Launch->indirect_pointers[0]).size > 0;
}

// A context's allocations live while its driver context may be used: the application's last
// context reference goes without a driver call of the layer's, the context stays known through its
// queue, and the memory goes only with its last queue, program and kernel, after the work queued
// there and without waiting for it.
TEST_F(FakeDriverTest, ContextAllocationsLiveUntilItsLastQueueProgramAndKernel) {
  Fake->configure("deferred on");
  size_t LiveUsm = Fake->liveObjects("usm");
  cl_int Error = CL_SUCCESS;
  cl_context Context = clCreateContext(nullptr, 1, &Devices[1], nullptr, nullptr, &Error);
  cl_command_queue Queue = clCreateCommandQueueWithProperties(Context, Devices[1], nullptr, &Error);
  const char *Source = kManifest;
  cl_program Program = clCreateProgramWithSource(Context, 1, &Source, nullptr, &Error);
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS);
  cl_kernel Kernel = clCreateKernel(Program, "k", &Error);
  auto SharedAlloc = extensionFunction<AllocFn>(Platforms[1], "clSharedMemAllocTARNO");
  auto MemFree = extensionFunction<FreeFn>(Platforms[1], "clMemFreeTARNO");
  void *Data = SharedAlloc(Context, Devices[1], nullptr, 64, 0, &Error);
  ASSERT_NE(Data, nullptr);
  clSetKernelArg(Kernel, 0, sizeof(Data), &Data);
  void *Pointers[] = {Data};
  clSetKernelExecInfo(Kernel, 0x4203, sizeof(Pointers), Pointers);
  bool Live = false;
  void *Check[] = {Fake.get(), &Live};
  Fake->setKernelBody("k", checkMemoryLive, Check);
  size_t Global = 1;
  ASSERT_EQ(clEnqueueNDRangeKernel(Queue, Kernel, 1, nullptr, &Global, nullptr, 0, nullptr,
                                   nullptr),
            CL_SUCCESS);
  auto Calls = [&] {
    std::vector<std::string> Names;
    for (const std::string &Line : Fake->calls())
      Names.push_back(Line.substr(0, Line.find('(')));
    Fake->resetLog();
    return Names;
  };
  Fake->resetLog();
  EXPECT_EQ(clReleaseContext(Context), CL_SUCCESS);
  EXPECT_EQ(Calls(), std::vector<std::string>{"clReleaseContext"});
  cl_context Again = nullptr;
  clGetCommandQueueInfo(Queue, CL_QUEUE_CONTEXT, sizeof(Again), &Again, nullptr);
  void *More = SharedAlloc(Again, Devices[1], nullptr, 64, 0, &Error);
  EXPECT_EQ(Error, CL_SUCCESS) << "the context is still the layer's";
  EXPECT_EQ(MemFree(Again, More), CL_SUCCESS);
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
  EXPECT_EQ(Fake->usmInfo(Data).base, Data);
  Calls();
  clReleaseCommandQueue(Queue);
  EXPECT_TRUE(Live) << "the kernel ran on freed memory";
  // A marker after the queue's last command, and the memory freed after it on a private queue.
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "clEnqueueMarkerWithWaitList", "clRetainEvent",
                         "clCreateCommandQueueWithProperties", "clEnqueueSVMFree",
                         "clReleaseCommandQueue", "clReleaseEvent", "clReleaseEvent",
                         "clReleaseCommandQueue"}));
  Fake->setKernelBody("k", nullptr);
  EXPECT_EQ(Fake->liveObjects("usm"), LiveUsm);
  EXPECT_EQ(Fake->liveObjects("context"), size_t(kPlatforms));
  Fake->configure("deferred off");
}

} // namespace
