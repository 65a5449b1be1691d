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
  auto Sorted = [](std::vector<void *> List) {
    std::sort(List.begin(), List.end());
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
      Sorted({Globals, Device}),
      Sorted({Globals, Device}),
      Sorted({Globals, Device, Shared}),
      Sorted({Globals, Device, Shared, Later}),
      Sorted({Globals, Shared, Later})};
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
  clReleaseCommandQueue(Queue);
  clReleaseProgram(Program);
  Fake->configure("binary-module \"\"");
}

// The fake's kernel body notes whether the memory it was given is still allocated.
void checkMemoryLive(const fakecl_launch *Launch, void *Live) {
  auto &Fake = *static_cast<fakecl::Client *>(static_cast<void **>(Live)[0]);
  *static_cast<bool *>(static_cast<void **>(Live)[1]) =
      Launch->num_indirect_pointers == 1 && Fake.usmInfo(Launch->indirect_pointers[0]).size > 0;
}

// Releasing a context frees its allocations after the work queued on it, and before the context
// itself goes.
TEST_F(FakeDriverTest, ContextReleaseWaitsForQueuedWorkBeforeFreeing) {
  Fake->configure("deferred on");
  cl_int Error = CL_SUCCESS;
  cl_context Context = clCreateContext(nullptr, 1, &Devices[1], nullptr, nullptr, &Error);
  cl_command_queue Queue = clCreateCommandQueueWithProperties(Context, Devices[1], nullptr, &Error);
  const char *Source = kManifest;
  cl_program Program = clCreateProgramWithSource(Context, 1, &Source, nullptr, &Error);
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS);
  cl_kernel Kernel = clCreateKernel(Program, "k", &Error);
  auto SharedAlloc = extensionFunction<AllocFn>(Platforms[1], "clSharedMemAllocTARNO");
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
  Fake->resetLog();
  EXPECT_EQ(clReleaseContext(Context), CL_SUCCESS);
  EXPECT_TRUE(Live) << "the kernel ran on freed memory";
  std::vector<std::string> Calls;
  for (const std::string &Line : Fake->calls())
    Calls.push_back(Line.substr(0, Line.find('(')));
  EXPECT_EQ(Calls, (std::vector<std::string>{"clRetainCommandQueue", "clFinish",
                                             "clReleaseCommandQueue", "clSVMFree",
                                             "clReleaseContext"}));
  Fake->setKernelBody("k", nullptr);
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
  clReleaseCommandQueue(Queue);
  EXPECT_EQ(Fake->liveObjects("context"), 2u);
  Fake->configure("deferred off");
}

} // namespace
