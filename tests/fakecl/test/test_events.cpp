// Events with profiling timestamps, waiting, deferred execution and the device and host clocks.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace fakecl_test;

namespace {

using MemcpyFn = cl_int (*)(cl_command_queue, cl_bool, void *, const void *, size_t, cl_uint, const cl_event *,
                            cl_event *);

cl_ulong timestamp(cl_event E, cl_profiling_info Param) {
  cl_ulong T = 0;
  EXPECT_EQ(clGetEventProfilingInfo(E, Param, sizeof(T), &T, nullptr), CL_SUCCESS);
  return T;
}

TEST(FakeclEvents, ScriptedTimestampsThenAutomaticOnes) {
  runWithDriver("event-times queued=10 submit=20 start=300 end=250 complete=400", [](fakecl::Client &Fake) {
    DriverSetup S;
    auto Memcpy = S.fn<MemcpyFn>("clEnqueueMemcpyTARNO");
    char A[4] = "abc", B[4] = {};
    cl_event E1 = nullptr, E2 = nullptr;
    ASSERT_EQ(Memcpy(S.Queue, CL_FALSE, B, A, 4, 0, nullptr, &E1), CL_SUCCESS);
    ASSERT_EQ(Memcpy(S.Queue, CL_FALSE, B, A, 4, 0, nullptr, &E2), CL_SUCCESS);
    ASSERT_EQ(clWaitForEvents(1, &E1), CL_SUCCESS);
    EXPECT_EQ(timestamp(E1, CL_PROFILING_COMMAND_QUEUED), 10u);
    EXPECT_EQ(timestamp(E1, CL_PROFILING_COMMAND_SUBMIT), 20u);
    // A device clock that runs backwards is reported as scripted.
    EXPECT_EQ(timestamp(E1, CL_PROFILING_COMMAND_START), 300u);
    EXPECT_EQ(timestamp(E1, CL_PROFILING_COMMAND_END), 250u);
    EXPECT_EQ(timestamp(E1, CL_PROFILING_COMMAND_COMPLETE), 400u);
    cl_ulong Q = timestamp(E2, CL_PROFILING_COMMAND_QUEUED), Start = timestamp(E2, CL_PROFILING_COMMAND_START),
             End = timestamp(E2, CL_PROFILING_COMMAND_END);
    EXPECT_LE(Q, Start);
    EXPECT_LT(Start, End);
    cl_uint Small = 0;
    EXPECT_EQ(clGetEventProfilingInfo(E2, CL_PROFILING_COMMAND_END, sizeof(Small), &Small, nullptr),
              CL_INVALID_VALUE);
    EXPECT_EQ(Fake.liveObjects("event"), 2u);
    EXPECT_EQ(clReleaseEvent(E1), CL_SUCCESS);
    EXPECT_EQ(clReleaseEvent(E2), CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects("event"), 0u);
    EXPECT_EQ(clReleaseEvent(E2), CL_INVALID_EVENT);
  });
}

TEST(FakeclEvents, NoProfilingInfoWithoutAProfilingQueue) {
  runWithDriver("", [](fakecl::Client &) {
    DriverSetup S(/*Profiling=*/false);
    char A = 1, B = 0;
    cl_event E = nullptr;
    ASSERT_EQ(S.fn<MemcpyFn>("clEnqueueMemcpyTARNO")(S.Queue, CL_TRUE, &B, &A, 1, 0, nullptr, &E), CL_SUCCESS);
    cl_ulong T;
    EXPECT_EQ(clGetEventProfilingInfo(E, CL_PROFILING_COMMAND_START, sizeof(T), &T, nullptr),
              CL_PROFILING_INFO_NOT_AVAILABLE);
    clReleaseEvent(E);
  });
}

TEST(FakeclEvents, ProfilingQueryFaults) {
  runWithDriver("fail clGetEventProfilingInfo nth=3 err=-7", [](fakecl::Client &) {
    DriverSetup S;
    char A = 1, B = 0;
    cl_event E = nullptr;
    ASSERT_EQ(S.fn<MemcpyFn>("clEnqueueMemcpyTARNO")(S.Queue, CL_TRUE, &B, &A, 1, 0, nullptr, &E), CL_SUCCESS);
    cl_ulong T;
    cl_int Results[4];
    for (cl_int &R : Results)
      R = clGetEventProfilingInfo(E, CL_PROFILING_COMMAND_START, sizeof(T), &T, nullptr);
    EXPECT_EQ(Results[0], CL_SUCCESS);
    EXPECT_EQ(Results[1], CL_SUCCESS);
    EXPECT_EQ(Results[2], -7);
    EXPECT_EQ(Results[3], CL_SUCCESS);
    clReleaseEvent(E);
  });
}

TEST(FakeclEvents, DeferredCommandsRunOnlyWhenWaitedFor) {
  runWithDriver("deferred on", [](fakecl::Client &Fake) {
    DriverSetup S;
    auto Memcpy = S.fn<MemcpyFn>("clEnqueueMemcpyTARNO");
    int Src = 42, Dst = 0, Dst2 = 0;
    cl_event E = nullptr;
    ASSERT_EQ(Memcpy(S.Queue, CL_FALSE, &Dst, &Src, sizeof(int), 0, nullptr, &E), CL_SUCCESS);
    EXPECT_EQ(Dst, 0);
    cl_int Status = 0;
    EXPECT_EQ(clGetEventInfo(E, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status, nullptr), CL_SUCCESS);
    EXPECT_NE(Status, CL_COMPLETE);
    cl_ulong T;
    EXPECT_EQ(clGetEventProfilingInfo(E, CL_PROFILING_COMMAND_END, sizeof(T), &T, nullptr),
              CL_PROFILING_INFO_NOT_AVAILABLE);
    ASSERT_EQ(clWaitForEvents(1, &E), CL_SUCCESS);
    EXPECT_EQ(Dst, 42);
    EXPECT_EQ(clGetEventInfo(E, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status, nullptr), CL_SUCCESS);
    EXPECT_EQ(Status, CL_COMPLETE);
    // A non-blocking copy without an event still runs at clFinish, and leaves no event behind.
    ASSERT_EQ(Memcpy(S.Queue, CL_FALSE, &Dst2, &Src, sizeof(int), 0, nullptr, nullptr), CL_SUCCESS);
    EXPECT_EQ(Dst2, 0);
    EXPECT_EQ(clFinish(S.Queue), CL_SUCCESS);
    EXPECT_EQ(Dst2, 42);
    clReleaseEvent(E);
    EXPECT_EQ(Fake.liveObjects("event"), 0u);
  });
}

TEST(FakeclEvents, WaitChecksItsArguments) {
  runWithDriver("fail clWaitForEvents nth=1 err=-14", [](fakecl::Client &) {
    DriverSetup S;
    char A = 1, B = 0;
    cl_event E = nullptr;
    ASSERT_EQ(S.fn<MemcpyFn>("clEnqueueMemcpyTARNO")(S.Queue, CL_FALSE, &B, &A, 1, 0, nullptr, &E), CL_SUCCESS);
    EXPECT_EQ(clWaitForEvents(1, &E), -14);
    EXPECT_EQ(clWaitForEvents(1, &E), CL_SUCCESS);
    clReleaseEvent(E);
    EXPECT_EQ(clWaitForEvents(1, &E), CL_INVALID_EVENT);
  });
}

TEST(FakeclClock, ScriptedReadingsThenTheAutomaticClock) {
  runWithDriver("timer device=500 host=1000\ntimer device=400 host=1100\nclock device=7000 host=9000 step=10\n"
                "fail clGetDeviceAndHostTimer nth=4 err=-34",
                [](fakecl::Client &) {
                  DriverSetup S;
                  cl_ulong Dev = 0, Host = 0;
                  ASSERT_EQ(clGetDeviceAndHostTimer(S.Device, &Dev, &Host), CL_SUCCESS);
                  EXPECT_EQ(Dev, 500u);
                  EXPECT_EQ(Host, 1000u);
                  ASSERT_EQ(clGetDeviceAndHostTimer(S.Device, &Dev, &Host), CL_SUCCESS);
                  EXPECT_EQ(Dev, 400u); // the device clock went backwards
                  EXPECT_EQ(Host, 1100u);
                  ASSERT_EQ(clGetDeviceAndHostTimer(S.Device, &Dev, &Host), CL_SUCCESS);
                  EXPECT_EQ(Dev, 7000u);
                  EXPECT_EQ(Host, 9000u);
                  EXPECT_EQ(clGetDeviceAndHostTimer(S.Device, &Dev, &Host), -34);
                  ASSERT_EQ(clGetDeviceAndHostTimer(S.Device, &Dev, &Host), CL_SUCCESS);
                  EXPECT_EQ(Dev, 7010u);
                  EXPECT_EQ(clGetDeviceAndHostTimer(S.Device, nullptr, &Host), CL_INVALID_VALUE);
                });
}

} // namespace
