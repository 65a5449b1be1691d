// Unified-shared-memory allocations, the pointer query, frees and copies.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace fakecl_test;

namespace {

using HostAllocFn = void *(*)(cl_context, const cl_ulong *, size_t, cl_uint, cl_int *);
using DeviceAllocFn = void *(*)(cl_context, cl_device_id, const cl_ulong *, size_t, cl_uint, cl_int *);
using FreeFn = cl_int (*)(cl_context, void *);
using InfoFn = cl_int (*)(cl_context, const void *, cl_uint, size_t, void *, size_t *);
using MemcpyFn = cl_int (*)(cl_command_queue, cl_bool, void *, const void *, size_t, cl_uint, const cl_event *,
                            cl_event *);

struct Usm {
  const DriverSetup &S;
  HostAllocFn Host;
  DeviceAllocFn Device, Shared;
  FreeFn Free, BlockingFree;
  InfoFn Info;
  MemcpyFn Memcpy;
  explicit Usm(const DriverSetup &S)
      : S(S), Host(S.fn<HostAllocFn>("clHostMemAllocTARNO")), Device(S.fn<DeviceAllocFn>("clDeviceMemAllocTARNO")),
        Shared(S.fn<DeviceAllocFn>("clSharedMemAllocTARNO")), Free(S.fn<FreeFn>("clMemFreeTARNO")),
        BlockingFree(S.fn<FreeFn>("clMemBlockingFreeTARNO")), Info(S.fn<InfoFn>("clGetMemAllocInfoTARNO")),
        Memcpy(S.fn<MemcpyFn>("clEnqueueMemcpyTARNO")) {}
  // Kind 0x4197 host, 0x4198 device, 0x4199 shared.
  void *alloc(cl_uint Kind, size_t Size, cl_uint Align, cl_int *Err, const cl_ulong *Props = nullptr) const {
    if (Kind == 0x4197)
      return Host(S.Context, Props, Size, Align, Err);
    return (Kind == 0x4198 ? Device : Shared)(S.Context, S.Device, Props, Size, Align, Err);
  }
  cl_uint type(const void *P) const {
    cl_uint T = 0;
    EXPECT_EQ(Info(S.Context, P, 0x419A, sizeof(T), &T, nullptr), CL_SUCCESS);
    return T;
  }
};

class FakeclUsmKinds : public ::testing::TestWithParam<cl_uint> {};

TEST_P(FakeclUsmKinds, AllocationIsRememberedPerPointerAndFreed) {
  const cl_uint Kind = GetParam();
  runWithDriver("", [Kind](fakecl::Client &Fake) {
    DriverSetup S;
    Usm U(S);
    cl_int Err = 1;
    char *P = static_cast<char *>(U.alloc(Kind, 100, 4096, &Err));
    ASSERT_EQ(Err, CL_SUCCESS);
    ASSERT_NE(P, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(P) % 4096, 0u);
    EXPECT_EQ(U.type(P), Kind);
    EXPECT_EQ(U.type(P + 99), Kind);
    EXPECT_EQ(U.type(P + 100), 0x4196u);
    int Local = 0;
    EXPECT_EQ(U.type(&Local), 0x4196u);
    void *Base = nullptr;
    size_t Size = 0;
    EXPECT_EQ(U.Info(S.Context, P + 10, 0x419B, sizeof(Base), &Base, nullptr), CL_SUCCESS);
    EXPECT_EQ(Base, P);
    EXPECT_EQ(U.Info(S.Context, P + 10, 0x419C, sizeof(Size), &Size, nullptr), CL_SUCCESS);
    EXPECT_EQ(Size, 100u);
    std::memset(P, 1, 100); // real host memory
    EXPECT_EQ(Fake.usmInfo(P + 50).type, Kind);
    EXPECT_EQ(Fake.liveObjects("usm"), 1u);
    EXPECT_EQ(U.Free(S.Context, P + 1), CL_INVALID_VALUE);
    EXPECT_EQ(U.BlockingFree(S.Context, P), CL_SUCCESS);
    EXPECT_EQ(U.type(P), 0x4196u);
    EXPECT_EQ(U.Free(S.Context, P), CL_INVALID_VALUE);
    EXPECT_EQ(Fake.liveObjects("usm"), 0u);
  });
}

INSTANTIATE_TEST_SUITE_P(Fakecl, FakeclUsmKinds, ::testing::Values(0x4197u, 0x4198u, 0x4199u));

TEST(FakeclUsm, AllocationChecks) {
  runWithDriver("platform\ndevice\ndevinfo 0x1010 u64 1000\nfail clDeviceMemAllocTARNO nth=6 err=-4",
                [](fakecl::Client &Fake) {
                  DriverSetup S;
                  Usm U(S);
                  const cl_ulong Large[] = {0x10001, 0x800000, 0};
                  const cl_ulong Unknown[] = {0x1234, 1, 0};
                  struct Case {
                    size_t Size;
                    cl_uint Align;
                    const cl_ulong *Props;
                    cl_int Expected;
                  } Cases[] = {{24, 24, nullptr, CL_INVALID_VALUE},      {0, 0, nullptr, CL_INVALID_BUFFER_SIZE},
                               {8, 0, Unknown, CL_INVALID_PROPERTY},     {1001, 0, nullptr, CL_INVALID_BUFFER_SIZE},
                               {1001, 0, Large, CL_SUCCESS},             {8, 0, nullptr, CL_MEM_OBJECT_ALLOCATION_FAILURE}};
                  for (const Case &C : Cases) {
                    cl_int Err = 99;
                    void *P = U.alloc(0x4198, C.Size, C.Align, &Err, C.Props);
                    EXPECT_EQ(Err, C.Expected) << C.Size << " " << C.Align;
                    EXPECT_EQ(P == nullptr, C.Expected != CL_SUCCESS);
                    if (P) {
                      EXPECT_EQ(Fake.usmInfo(P).properties[1], 0x800000u);
                      U.Free(S.Context, P);
                    }
                  }
                  EXPECT_NE(Fake.calls("clDeviceMemAllocTARNO")[4].find("[0x10001, 0x800000, 0], 1001, 0"),
                            std::string::npos);
                  EXPECT_EQ(Fake.liveObjects("usm"), 0u);
                });
}

TEST(FakeclUsm, CopiesMoveBytesBothWays) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    Usm U(S);
    const size_t N = 1 << 20;
    char *Dev = static_cast<char *>(U.alloc(0x4198, N, 0, nullptr));
    ASSERT_NE(Dev, nullptr);
    std::vector<char> In(N), Out(N, 0);
    for (size_t I = 0; I < N; ++I)
      In[I] = static_cast<char>(I * 7);
    cl_event E = nullptr;
    ASSERT_EQ(U.Memcpy(S.Queue, CL_FALSE, Dev, In.data(), N, 0, nullptr, &E), CL_SUCCESS);
    ASSERT_EQ(clWaitForEvents(1, &E), CL_SUCCESS);
    ASSERT_EQ(clReleaseEvent(E), CL_SUCCESS);
    ASSERT_EQ(U.Memcpy(S.Queue, CL_TRUE, Out.data(), Dev, N, 0, nullptr, nullptr), CL_SUCCESS);
    EXPECT_EQ(In, Out);
    EXPECT_EQ(U.Memcpy(S.Queue, CL_TRUE, Dev + N - 4, In.data(), 8, 0, nullptr, nullptr), CL_INVALID_VALUE);
    EXPECT_EQ(U.Memcpy(S.Queue, CL_TRUE, nullptr, In.data(), 8, 0, nullptr, nullptr), CL_INVALID_VALUE);
    EXPECT_EQ(U.Memcpy(S.Queue, CL_TRUE, Dev + 4, Dev, 8, 0, nullptr, nullptr), CL_MEM_COPY_OVERLAP);
    EXPECT_EQ(U.Memcpy(S.Queue, CL_TRUE, nullptr, nullptr, 0, 0, nullptr, nullptr), CL_SUCCESS);
    std::vector<std::string> Calls = Fake.calls("clEnqueueMemcpyTARNO");
    ASSERT_EQ(Calls.size(), 6u);
    EXPECT_NE(Calls[0].find(", 0, 0x"), std::string::npos) << Calls[0]; // non-blocking, then pointers
    EXPECT_NE(Calls[0].find(", 1048576, 0, null, 0x"), std::string::npos) << Calls[0];
    U.Free(S.Context, Dev);
    EXPECT_EQ(Fake.liveObjects(), 2u); // the setup's context and queue
  });
}

TEST(FakeclUsm, BlockingFreeWaitsForPendingCopies) {
  runWithDriver("deferred on", [](fakecl::Client &) {
    DriverSetup S;
    Usm U(S);
    int *Dev = static_cast<int *>(U.alloc(0x4199, sizeof(int), 0, nullptr));
    int Out = 0;
    *Dev = 5;
    ASSERT_EQ(U.Memcpy(S.Queue, CL_FALSE, &Out, Dev, sizeof(int), 0, nullptr, nullptr), CL_SUCCESS);
    EXPECT_EQ(Out, 0);
    ASSERT_EQ(U.BlockingFree(S.Context, Dev), CL_SUCCESS);
    EXPECT_EQ(Out, 5);
  });
}

TEST(FakeclUsm, IndirectAllocationOffsetsAreRecorded) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    using OffsetsFn = cl_int (*)(void *, cl_uint, cl_ulong *);
    auto Offsets = S.fn<OffsetsFn>("clVelkIndirectAllocationOffsets");
    cl_ulong Off = 24;
    int X;
    EXPECT_EQ(Offsets(&X, 1, &Off), CL_SUCCESS);
    ASSERT_EQ(Fake.calls("clVelkIndirectAllocationOffsets").size(), 1u);
    EXPECT_NE(Fake.calls("clVelkIndirectAllocationOffsets")[0].find(", 1, [24]) = 0"), std::string::npos);
  });
}

TEST(FakeclUsm, ThreadsAllocateCopyAndFreeAtOnce) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    Usm U(S);
    std::vector<std::thread> Threads;
    std::vector<int> Ok(4, 0);
    for (int T = 0; T < 4; ++T)
      Threads.emplace_back([&, T] {
        for (int I = 0; I < 200; ++I) {
          int *P = static_cast<int *>(U.alloc(0x4198, sizeof(int), 0, nullptr));
          int In = T * 1000 + I, Out = -1;
          cl_event E = nullptr;
          U.Memcpy(S.Queue, CL_FALSE, P, &In, sizeof(int), 0, nullptr, &E);
          clWaitForEvents(1, &E);
          clReleaseEvent(E);
          U.Memcpy(S.Queue, CL_TRUE, &Out, P, sizeof(int), 0, nullptr, nullptr);
          Ok[T] += Out == In && U.type(P) == 0x4198u;
          U.BlockingFree(S.Context, P);
        }
      });
    for (std::thread &T : Threads)
      T.join();
    EXPECT_EQ(Ok, std::vector<int>(4, 200));
    EXPECT_EQ(Fake.liveObjects("usm") + Fake.liveObjects("event"), 0u);
    EXPECT_EQ(Fake.callCount("clEnqueueMemcpyTARNO"), 1600u);
  });
}

} // namespace
