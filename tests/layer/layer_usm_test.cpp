// The shared-memory extension over buffer SVM: advertisement, allocation kinds and alignments,
// the pointer-type query, frees, copies and kernels reaching memory directly and indirectly.
#include "layer_test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <thread>

namespace {

class UsmTest : public LayerSuite<UsmTest> {
protected:
  cl_uint typeOf(const void *Ptr) {
    cl_uint Type = 0;
    EXPECT_EQ(Env.Usm.GetMemAllocInfo(Env.Context, Ptr, kAllocTypeQuery, sizeof(Type), &Type,
                                      nullptr),
              CL_SUCCESS);
    return Type;
  }
  void *alloc(cl_uint Kind, size_t Size, cl_uint Align = 0, cl_int *Error = nullptr,
              const cl_ulong *Properties = nullptr) {
    cl_int Local = CL_SUCCESS;
    cl_int *Err = Error ? Error : &Local;
    switch (Kind) {
    case kTypeHost:
      return Env.Usm.HostMemAlloc(Env.Context, Properties, Size, Align, Err);
    case kTypeDevice:
      return Env.Usm.DeviceMemAlloc(Env.Context, Env.Device, Properties, Size, Align, Err);
    default:
      return Env.Usm.SharedMemAlloc(Env.Context, Env.Device, Properties, Size, Align, Err);
    }
  }
};

using UsmExtension = UsmTest;

TEST_F(UsmExtension, IsAdvertisedOnceAndItsFunctionsAreFound) {
  std::string Extensions = deviceText(Env.Device, CL_DEVICE_EXTENSIONS);
  size_t First = Extensions.find("cl_tarno_unified_shared_memory");
  ASSERT_NE(First, std::string::npos);
  EXPECT_EQ(Extensions.find("cl_tarno_unified_shared_memory", First + 1), std::string::npos);

  size_t Size = 0;
  ASSERT_EQ(clGetDeviceInfo(Env.Device, CL_DEVICE_EXTENSIONS_WITH_VERSION, 0, nullptr, &Size),
            CL_SUCCESS);
  std::vector<cl_name_version> Versions(Size / sizeof(cl_name_version));
  ASSERT_EQ(clGetDeviceInfo(Env.Device, CL_DEVICE_EXTENSIONS_WITH_VERSION, Size, Versions.data(),
                            nullptr),
            CL_SUCCESS);
  int Listed = 0;
  for (const cl_name_version &Entry : Versions)
    Listed += std::strcmp(Entry.name, "cl_tarno_unified_shared_memory") == 0;
  EXPECT_EQ(Listed, 1);

  for (const char *Name : kUsmFunctionNames)
    EXPECT_NE(clGetExtensionFunctionAddressForPlatform(Env.Platform, Name), nullptr) << Name;
  EXPECT_NE(clGetExtensionFunctionAddressForPlatform(Env.Platform,
                                                      "clSetProgramSpecializationConstant"),
            nullptr);
  EXPECT_EQ(clGetExtensionFunctionAddressForPlatform(Env.Platform, "clNoSuchFunctionTARNO"),
            nullptr);
}

TEST_F(UsmTest, EachKindIsReportedForBaseAndInteriorPointers) {
  for (cl_uint Kind : {kTypeHost, kTypeDevice, kTypeShared}) {
    cl_int Error = CL_OUT_OF_RESOURCES;
    auto *Ptr = static_cast<char *>(alloc(Kind, 1000, 0, &Error));
    ASSERT_NE(Ptr, nullptr) << std::hex << Kind;
    EXPECT_EQ(Error, CL_SUCCESS);
    EXPECT_EQ(typeOf(Ptr), Kind);
    EXPECT_EQ(typeOf(Ptr + 1), Kind);
    EXPECT_EQ(typeOf(Ptr + 999), Kind);
    void *Base = nullptr;
    size_t Size = 0;
    cl_device_id Device = nullptr;
    Env.Usm.GetMemAllocInfo(Env.Context, Ptr + 999, 0x419B, sizeof(Base), &Base, nullptr);
    Env.Usm.GetMemAllocInfo(Env.Context, Ptr + 999, 0x419C, sizeof(Size), &Size, nullptr);
    Env.Usm.GetMemAllocInfo(Env.Context, Ptr + 999, 0x419D, sizeof(Device), &Device, nullptr);
    EXPECT_EQ(Base, Ptr);
    EXPECT_EQ(Size, 1000u);
    EXPECT_EQ(Device, Kind == kTypeHost ? nullptr : Env.Device);
    EXPECT_EQ(Env.Usm.MemFree(Env.Context, Ptr), CL_SUCCESS);
    EXPECT_EQ(typeOf(Ptr), kTypeUnknown); // freed
  }
  int OnStack = 0;
  EXPECT_EQ(typeOf(&OnStack), kTypeUnknown);
  EXPECT_EQ(typeOf(nullptr), kTypeUnknown);

  size_t Needed = 0;
  EXPECT_EQ(Env.Usm.GetMemAllocInfo(Env.Context, &OnStack, kAllocTypeQuery, 0, nullptr, &Needed),
            CL_SUCCESS);
  EXPECT_EQ(Needed, sizeof(cl_uint));
  uint16_t Small = 0;
  EXPECT_EQ(Env.Usm.GetMemAllocInfo(Env.Context, &OnStack, kAllocTypeQuery, sizeof(Small),
                                    &Small, nullptr),
            CL_INVALID_VALUE);
  cl_uint Type = 0;
  EXPECT_EQ(Env.Usm.GetMemAllocInfo(Env.Context, &OnStack, 0x419B, sizeof(Type), &Type, nullptr),
            CL_INVALID_VALUE);
  EXPECT_EQ(Env.Usm.GetMemAllocInfo(nullptr, &OnStack, kAllocTypeQuery, sizeof(Type), &Type,
                                    nullptr),
            CL_INVALID_CONTEXT);
}

TEST_F(UsmTest, AllocationsHonourEveryAlignment) {
  for (cl_uint Kind : {kTypeHost, kTypeDevice, kTypeShared}) {
    for (cl_uint Align : {0u, 1u, 8u, 64u, 128u, 256u, 4096u, 65536u}) {
      auto *Ptr = static_cast<char *>(alloc(Kind, 100, Align));
      ASSERT_NE(Ptr, nullptr) << Align;
      if (Align) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(Ptr) % Align, 0u) << Align;
      }
      EXPECT_EQ(typeOf(Ptr + 99), Kind);
      if (Kind != kTypeDevice)
        std::memset(Ptr, 0, 100); // host-usable kinds really hold the bytes asked for
      EXPECT_EQ(Env.Usm.MemFree(Env.Context, Ptr), CL_SUCCESS);
    }
  }
}

TEST_F(UsmTest, BadAllocationRequestsGetErrorCodes) {
  cl_int Error = CL_SUCCESS;
  EXPECT_EQ(alloc(kTypeDevice, 64, 24, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_VALUE);
  // Each alignment costs its size again in over-allocation: beyond 64 KiB it is refused.
  EXPECT_EQ(alloc(kTypeDevice, 64, 1u << 31, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_VALUE);
  EXPECT_EQ(alloc(kTypeShared, 0, 0, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_BUFFER_SIZE);
  cl_ulong MaxAlloc = 0;
  clGetDeviceInfo(Env.Device, CL_DEVICE_MAX_MEM_ALLOC_SIZE, sizeof(MaxAlloc), &MaxAlloc, nullptr);
  EXPECT_EQ(alloc(kTypeDevice, MaxAlloc + 1, 0, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_BUFFER_SIZE);
  const cl_ulong Unknown[] = {0x4242, 1, 0};
  EXPECT_EQ(alloc(kTypeHost, 64, 0, &Error, Unknown), nullptr);
  EXPECT_EQ(Error, CL_INVALID_PROPERTY);
  const cl_ulong Flags[] = {0x10001, 0x800000, 0};
  void *Large = alloc(kTypeDevice, 64, 0, &Error, Flags);
  EXPECT_EQ(Error, CL_SUCCESS);
  EXPECT_EQ(Env.Usm.MemFree(Env.Context, Large), CL_SUCCESS);

  EXPECT_EQ(Env.Usm.DeviceMemAlloc(Env.Context, nullptr, nullptr, 64, 0, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_DEVICE);
  EXPECT_EQ(Env.Usm.HostMemAlloc(nullptr, nullptr, 64, 0, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_CONTEXT);
  EXPECT_EQ(Env.Usm.HostMemAlloc(Env.Context, nullptr, 64, 0, nullptr) != nullptr, true)
      << "a null error pointer is allowed";
}

TEST_F(UsmTest, FreeRejectsPointersItDidNotHandOut) {
  auto *Ptr = static_cast<char *>(alloc(kTypeShared, 256));
  ASSERT_NE(Ptr, nullptr);
  int OnStack = 0;
  EXPECT_EQ(Env.Usm.MemFree(Env.Context, &OnStack), CL_INVALID_VALUE);
  EXPECT_EQ(Env.Usm.MemFree(Env.Context, Ptr + 8), CL_INVALID_VALUE);
  EXPECT_EQ(Env.Usm.MemBlockingFree(Env.Context, Ptr + 8), CL_INVALID_VALUE);
  EXPECT_EQ(Env.Usm.MemFree(nullptr, Ptr), CL_INVALID_CONTEXT);
  EXPECT_EQ(Env.Usm.MemFree(Env.Context, nullptr), CL_SUCCESS);
  EXPECT_EQ(Env.Usm.MemBlockingFree(Env.Context, Ptr), CL_SUCCESS);
  EXPECT_EQ(Env.Usm.MemFree(Env.Context, Ptr), CL_INVALID_VALUE); // twice
}

TEST_F(UsmTest, CopiesWorkInEveryDirection) {
  constexpr size_t Count = 4096;
  std::vector<int> Source(Count), Back(Count, -1);
  std::iota(Source.begin(), Source.end(), 7);
  auto *Host = static_cast<int *>(alloc(kTypeHost, Count * sizeof(int)));
  auto *Device = static_cast<int *>(alloc(kTypeDevice, Count * sizeof(int)));
  auto *Shared = static_cast<int *>(alloc(kTypeShared, Count * sizeof(int)));
  auto *Device2 = static_cast<int *>(alloc(kTypeDevice, Count * sizeof(int)));
  ASSERT_TRUE(Host && Device && Shared && Device2);
  size_t Bytes = Count * sizeof(int);
  // Plain host memory -> device -> shared -> host allocation -> device -> plain host memory,
  // alternating blocking copies and copies with events.
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Device, Source.data(), Bytes, 0, nullptr,
                                  nullptr),
            CL_SUCCESS);
  cl_event Step = nullptr;
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_FALSE, Shared, Device, Bytes, 0, nullptr, &Step),
            CL_SUCCESS);
  cl_event Next = nullptr;
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_FALSE, Host, Shared, Bytes, 1, &Step, &Next),
            CL_SUCCESS);
  ASSERT_EQ(clWaitForEvents(1, &Next), CL_SUCCESS);
  EXPECT_EQ(std::memcmp(Host, Source.data(), Bytes), 0);
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Device2, Host, Bytes, 0, nullptr, nullptr),
            CL_SUCCESS);
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Back.data(), Device2, Bytes, 0, nullptr,
                                  nullptr),
            CL_SUCCESS);
  EXPECT_EQ(Back, Source);
  // Interior pointers on both sides.
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Back.data() + 10, Device + 100,
                                  5 * sizeof(int), 0, nullptr, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(Back[10], Source[100]);
  EXPECT_EQ(Back[14], Source[104]);
  EXPECT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, nullptr, Device, 4, 0, nullptr, nullptr),
            CL_INVALID_VALUE);
  EXPECT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Back.data(), Device, 4, 1, nullptr,
                                  nullptr),
            CL_INVALID_EVENT_WAIT_LIST);
  EXPECT_EQ(Env.Usm.EnqueueMemcpy(nullptr, CL_TRUE, Back.data(), Device, 4, 0, nullptr, nullptr),
            CL_INVALID_COMMAND_QUEUE);
  auto Bogus = reinterpret_cast<cl_command_queue>(Back.data());
  EXPECT_EQ(Env.Usm.EnqueueMemcpy(Bogus, CL_TRUE, Back.data(), Device, 4, 0, nullptr, nullptr),
            CL_INVALID_COMMAND_QUEUE);
  clReleaseEvent(Step);
  clReleaseEvent(Next);
  for (void *Ptr : {static_cast<void *>(Host), static_cast<void *>(Device),
                    static_cast<void *>(Shared), static_cast<void *>(Device2)})
    EXPECT_EQ(Env.Usm.MemFree(Env.Context, Ptr), CL_SUCCESS);
}

// A zero-byte copy is a command of its queue: it waits for its wait list there (not on the
// host, where a user event set later by the same thread would never come), and its event is the
// queue's and completes in the queue's order.
TEST_F(UsmTest, ZeroSizeCopyIsACommandOfItsQueue) {
  EXPECT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, nullptr, nullptr, 0, 0, nullptr, nullptr),
            CL_SUCCESS);
  cl_int Error = CL_SUCCESS;
  cl_event Gate = clCreateUserEvent(Env.Context, &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  cl_event Done = nullptr;
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_FALSE, nullptr, nullptr, 0, 1, &Gate, &Done),
            CL_SUCCESS);
  ASSERT_NE(Done, nullptr);
  cl_int Status = -1;
  cl_command_queue Queue = nullptr;
  clGetEventInfo(Done, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status, nullptr);
  clGetEventInfo(Done, CL_EVENT_COMMAND_QUEUE, sizeof(Queue), &Queue, nullptr);
  EXPECT_NE(Status, CL_COMPLETE);
  EXPECT_EQ(Queue, Env.Queue);
  ASSERT_EQ(clSetUserEventStatus(Gate, CL_COMPLETE), CL_SUCCESS);
  ASSERT_EQ(clWaitForEvents(1, &Done), CL_SUCCESS);
  clGetEventInfo(Done, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status, nullptr);
  EXPECT_EQ(Status, CL_COMPLETE);
  clReleaseEvent(Done);
  clReleaseEvent(Gate);
}

class UsmKernelTest : public UsmTest {
protected:
  static void SetUpTestSuite() {
    UsmTest::SetUpTestSuite();
    if (Ready)
      KernelProgram = buildKernelProgram(Env, "usm_access.spv");
  }
  static void TearDownTestSuite() {
    if (KernelProgram)
      clReleaseProgram(KernelProgram);
    KernelProgram = nullptr;
    UsmTest::TearDownTestSuite();
  }
  cl_kernel kernel(const char *Name) {
    cl_int Error = CL_SUCCESS;
    cl_kernel Kernel = clCreateKernel(KernelProgram, Name, &Error);
    EXPECT_EQ(Error, CL_SUCCESS);
    return Kernel;
  }
  static inline cl_program KernelProgram = nullptr;
};

TEST_F(UsmKernelTest, PointerArgumentsKeepTheirOffset) {
  constexpr size_t Count = 64;
  std::vector<int> Data(Count, 2);
  auto *Device = static_cast<int *>(alloc(kTypeDevice, Count * sizeof(int)));
  ASSERT_NE(Device, nullptr);
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Device, Data.data(), sizeof(int) * Count, 0,
                                  nullptr, nullptr),
            CL_SUCCESS);
  cl_kernel Scale = kernel("scale");
  int Factor = 5;
  ASSERT_EQ(Env.Usm.SetKernelArgMemPointer(Scale, 0, Device + 16), CL_SUCCESS);
  ASSERT_EQ(clSetKernelArg(Scale, 1, sizeof(Factor), &Factor), CL_SUCCESS);
  ASSERT_EQ(runKernel(Env, Scale, Count - 16, 0), CL_SUCCESS);
  ASSERT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Data.data(), Device, sizeof(int) * Count, 0,
                                  nullptr, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(Data[15], 2);
  EXPECT_EQ(Data[16], 10);
  EXPECT_EQ(Data[Count - 1], 10);
  EXPECT_EQ(Env.Usm.SetKernelArgMemPointer(nullptr, 0, Device), CL_INVALID_KERNEL);
  EXPECT_EQ(Env.Usm.SetKernelArgMemPointer(reinterpret_cast<cl_kernel>(Data.data()), 0, Device),
            CL_INVALID_KERNEL);
  clReleaseKernel(Scale);
  EXPECT_EQ(Env.Usm.MemBlockingFree(Env.Context, Device), CL_SUCCESS);
}

TEST_F(UsmKernelTest, PointersStoredInMemoryAreFollowed) {
  constexpr size_t Count = 8;
  auto **Table = static_cast<int **>(alloc(kTypeShared, Count * sizeof(int *)));
  auto *Targets = static_cast<int *>(alloc(kTypeDevice, Count * sizeof(int)));
  auto *HostTargets = static_cast<int *>(alloc(kTypeHost, Count * sizeof(int)));
  ASSERT_TRUE(Table && Targets && HostTargets);
  std::vector<int> Zero(Count, 0);
  Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Targets, Zero.data(), sizeof(int) * Count, 0, nullptr,
                        nullptr);
  std::memset(HostTargets, 0, sizeof(int) * Count);
  for (size_t I = 0; I < Count; ++I)
    Table[I] = I % 2 ? &Targets[I] : &HostTargets[I];

  cl_kernel Follow = kernel("follow_table");
  int Increment = 3;
  cl_bool On = CL_TRUE;
  void *Named[] = {Targets + 1}; // an interior pointer stands for its allocation
  ASSERT_EQ(Env.Usm.SetKernelArgMemPointer(Follow, 0, Table), CL_SUCCESS);
  ASSERT_EQ(clSetKernelArg(Follow, 1, sizeof(Increment), &Increment), CL_SUCCESS);
  ASSERT_EQ(clSetKernelExecInfo(Follow, kIndirectPointers, sizeof(Named), Named), CL_SUCCESS);
  ASSERT_EQ(clSetKernelExecInfo(Follow, kIndirectHost, sizeof(On), &On), CL_SUCCESS);
  ASSERT_EQ(clSetKernelExecInfo(Follow, kIndirectDevice, sizeof(On), &On), CL_SUCCESS);
  EXPECT_EQ(clSetKernelExecInfo(Follow, kIndirectShared, 1, &On), CL_INVALID_VALUE);
  EXPECT_EQ(clSetKernelExecInfo(Follow, kIndirectPointers, 3, Named), CL_INVALID_VALUE);
  ASSERT_EQ(runKernel(Env, Follow, Count, 0), CL_SUCCESS);
  std::vector<int> Result(Count);
  Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Result.data(), Targets, sizeof(int) * Count, 0,
                        nullptr, nullptr);
  for (size_t I = 0; I < Count; ++I)
    EXPECT_EQ(I % 2 ? Result[I] : HostTargets[I], 3) << I;
  clReleaseKernel(Follow);
  for (void *Ptr : {static_cast<void *>(Table), static_cast<void *>(Targets),
                    static_cast<void *>(HostTargets)})
    EXPECT_EQ(Env.Usm.MemFree(Env.Context, Ptr), CL_SUCCESS);
}

TEST_F(UsmKernelTest, BlockingFreeWaitsForQueuedKernels) {
  constexpr size_t Count = 16;
  auto *Shared = static_cast<int *>(alloc(kTypeShared, Count * sizeof(int)));
  ASSERT_NE(Shared, nullptr);
  for (size_t I = 0; I < Count; ++I)
    Shared[I] = 1;
  cl_int Error = CL_SUCCESS;
  cl_event Gate = clCreateUserEvent(Env.Context, &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  cl_kernel Scale = kernel("scale");
  int Factor = 4;
  Env.Usm.SetKernelArgMemPointer(Scale, 0, Shared);
  clSetKernelArg(Scale, 1, sizeof(Factor), &Factor);
  cl_event Ran = nullptr;
  ASSERT_EQ(clEnqueueNDRangeKernel(Env.Queue, Scale, 1, nullptr, &Count, nullptr, 1, &Gate, &Ran),
            CL_SUCCESS);
  clFlush(Env.Queue);

  std::atomic<bool> Freed{false};
  std::atomic<cl_int> KernelStatusAtFree{-1};
  std::thread Freeing([&] {
    EXPECT_EQ(Env.Usm.MemBlockingFree(Env.Context, Shared), CL_SUCCESS);
    cl_int Status = -1;
    clGetEventInfo(Ran, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status, nullptr);
    KernelStatusAtFree = Status;
    Freed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(Freed) << "the free did not wait for the gated kernel";
  clSetUserEventStatus(Gate, CL_COMPLETE);
  Freeing.join();
  EXPECT_EQ(KernelStatusAtFree, CL_COMPLETE);
  clReleaseEvent(Ran);
  clReleaseEvent(Gate);
  clReleaseKernel(Scale);
}

TEST_F(UsmKernelTest, SuggestedLocalSizeDividesTheRange) {
  cl_kernel Scale = kernel("scale");
  size_t KernelLimit = 0;
  clGetKernelWorkGroupInfo(Scale, Env.Device, CL_KERNEL_WORK_GROUP_SIZE, sizeof(KernelLimit),
                           &KernelLimit, nullptr);
  const size_t Global[3] = {96, 7, 2};
  size_t Local[3] = {0, 0, 0};
  ASSERT_EQ(Env.Usm.GetKernelSuggestedLocalWorkSize(Env.Queue, Scale, 3, nullptr, Global, Local),
            CL_SUCCESS);
  for (int D = 0; D < 3; ++D) {
    ASSERT_GT(Local[D], 0u);
    EXPECT_EQ(Global[D] % Local[D], 0u) << D;
  }
  EXPECT_LE(Local[0] * Local[1] * Local[2], KernelLimit);
  EXPECT_EQ(Local[0], 96u);
  EXPECT_EQ(Env.Usm.GetKernelSuggestedLocalWorkSize(Env.Queue, Scale, 4, nullptr, Global, Local),
            CL_INVALID_WORK_DIMENSION);
  EXPECT_EQ(Env.Usm.GetKernelSuggestedLocalWorkSize(Env.Queue, Scale, 1, nullptr, nullptr, Local),
            CL_INVALID_VALUE);
  clReleaseKernel(Scale);
}

} // namespace
