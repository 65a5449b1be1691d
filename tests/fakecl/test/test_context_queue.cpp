// Contexts and command queues: creation checks, reference counts, faults and leak counting.
#include "child_process.h"

#include <gtest/gtest.h>

using namespace fakecl_test;

namespace {

TEST(FakeclContext, CreateRetainReleaseAndLiveCounts) {
  runWithDriver("platform\ndevice\ndevice", [](fakecl::Client &Fake) {
    cl_platform_id P = platforms()[0];
    std::vector<cl_device_id> D = devices(P);
    cl_context_properties Props[] = {CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(P), 0};
    cl_int Err = 1;
    cl_context C = clCreateContext(Props, 2, D.data(), nullptr, nullptr, &Err);
    ASSERT_EQ(Err, CL_SUCCESS);
    ASSERT_NE(C, nullptr);
    EXPECT_EQ(Fake.liveObjects("context"), 1u);
    cl_uint Num = 0;
    EXPECT_EQ(clGetContextInfo(C, CL_CONTEXT_NUM_DEVICES, sizeof(Num), &Num, nullptr), CL_SUCCESS);
    EXPECT_EQ(Num, 2u);
    EXPECT_EQ(clRetainContext(C), CL_SUCCESS);
    EXPECT_EQ(clReleaseContext(C), CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects("context"), 1u);
    EXPECT_EQ(clReleaseContext(C), CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects("all"), 0u);
    std::vector<std::string> Calls = Fake.calls("clCreateContext");
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_NE(Calls[0].find("[0x1084, "), std::string::npos) << Calls[0];
    EXPECT_NE(Calls[0].find(", 0], 2, ["), std::string::npos) << Calls[0];
  });
}

TEST(FakeclContext, InvalidArgumentsGiveRealErrorCodes) {
  runWithDriver("platform\ndevice\nplatform\ndevice", [](fakecl::Client &Fake) {
    std::vector<cl_platform_id> P = platforms();
    cl_device_id Other = devices(P[1])[0];
    cl_context_properties Props[] = {CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(P[0]), 0};
    cl_context_properties Unknown[] = {0x7777, 1, 0};
    struct Case {
      const cl_context_properties *Props;
      cl_uint Num;
      const cl_device_id *Devices;
      cl_int Expected;
    } Cases[] = {{Props, 1, &Other, CL_INVALID_DEVICE},
                 {Unknown, 1, &Other, CL_INVALID_PROPERTY},
                 {nullptr, 0, &Other, CL_INVALID_VALUE},
                 {nullptr, 1, nullptr, CL_INVALID_VALUE}};
    for (const Case &C : Cases) {
      cl_int Err = 0;
      EXPECT_EQ(clCreateContext(C.Props, C.Num, C.Devices, nullptr, nullptr, &Err), nullptr);
      EXPECT_EQ(Err, C.Expected);
    }
    EXPECT_EQ(Fake.liveObjects(), 0u);
  });
}

TEST(FakeclContext, NthCallFaultReturnsNullAndTheCode) {
  runWithDriver("platform\ndevice\nfail clCreateContext nth=2 err=-6", [](fakecl::Client &Fake) {
    cl_device_id D = devices(platforms()[0])[0];
    cl_int Errs[3];
    cl_context Made[3];
    for (int I = 0; I < 3; ++I)
      Made[I] = clCreateContext(nullptr, 1, &D, nullptr, nullptr, &Errs[I]);
    EXPECT_EQ(Errs[0], CL_SUCCESS);
    EXPECT_EQ(Errs[1], CL_OUT_OF_HOST_MEMORY);
    EXPECT_EQ(Made[1], nullptr);
    EXPECT_EQ(Errs[2], CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects("context"), 2u);
    clReleaseContext(Made[0]);
    clReleaseContext(Made[2]);
  });
}

TEST(FakeclContext, DoubleReleaseIsRefused) {
  runWithDriver("", [](fakecl::Client &) {
    cl_device_id D = devices(platforms()[0])[0];
    cl_context C = clCreateContext(nullptr, 1, &D, nullptr, nullptr, nullptr);
    cl_command_queue Q = clCreateCommandQueueWithProperties(C, D, nullptr, nullptr);
    EXPECT_EQ(clReleaseCommandQueue(Q), CL_SUCCESS);
    EXPECT_EQ(clReleaseContext(C), CL_SUCCESS);
    // Both are gone now; further releases are errors a test can see, not crashes.
    EXPECT_EQ(clReleaseCommandQueue(Q), CL_INVALID_COMMAND_QUEUE);
    EXPECT_EQ(clReleaseContext(C), CL_INVALID_CONTEXT);
  });
}

TEST(FakeclQueue, ProfilingPropertyAndContextLifetime) {
  runWithDriver("", [](fakecl::Client &Fake) {
    cl_device_id D = devices(platforms()[0])[0];
    cl_context C = clCreateContext(nullptr, 1, &D, nullptr, nullptr, nullptr);
    cl_queue_properties Props[] = {CL_QUEUE_PROPERTIES, CL_QUEUE_PROFILING_ENABLE, 0};
    cl_int Err = 1;
    cl_command_queue Q = clCreateCommandQueueWithProperties(C, D, Props, &Err);
    ASSERT_EQ(Err, CL_SUCCESS);
    cl_command_queue_properties Got = 0;
    EXPECT_EQ(clGetCommandQueueInfo(Q, CL_QUEUE_PROPERTIES, sizeof(Got), &Got, nullptr), CL_SUCCESS);
    EXPECT_EQ(Got, static_cast<cl_command_queue_properties>(CL_QUEUE_PROFILING_ENABLE));
    EXPECT_EQ(Fake.calls("clCreateCommandQueueWithProperties")[0].find("[0x1093, 0x2, 0]") != std::string::npos,
              true);
    // The queue holds its context: releasing the context first leaves it alive.
    EXPECT_EQ(clReleaseContext(C), CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects("context"), 1u);
    EXPECT_EQ(clFinish(Q), CL_SUCCESS);
    EXPECT_EQ(clReleaseCommandQueue(Q), CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects(), 0u);
  });
}

TEST(FakeclQueue, CreationChecksAndFaults) {
  runWithDriver("platform\ndevice\ndevice\nfail clCreateCommandQueueWithProperties nth=3 err=-5\n"
                "fail clFinish all err=-36",
                [](fakecl::Client &Fake) {
                  std::vector<cl_device_id> D = devices(platforms()[0]);
                  cl_context C = clCreateContext(nullptr, 1, &D[0], nullptr, nullptr, nullptr);
                  cl_int Err = 0;
                  EXPECT_EQ(clCreateCommandQueueWithProperties(C, D[1], nullptr, &Err), nullptr);
                  EXPECT_EQ(Err, CL_INVALID_DEVICE);
                  cl_queue_properties Bad[] = {0x9999, 1, 0};
                  EXPECT_EQ(clCreateCommandQueueWithProperties(C, D[0], Bad, &Err), nullptr);
                  EXPECT_EQ(Err, CL_INVALID_VALUE);
                  EXPECT_EQ(clCreateCommandQueueWithProperties(C, D[0], nullptr, &Err), nullptr);
                  EXPECT_EQ(Err, CL_OUT_OF_RESOURCES);
                  cl_command_queue Q = clCreateCommandQueueWithProperties(C, D[0], nullptr, &Err);
                  ASSERT_EQ(Err, CL_SUCCESS);
                  EXPECT_EQ(clFinish(Q), CL_INVALID_COMMAND_QUEUE);
                  EXPECT_EQ(clFinish(Q), CL_INVALID_COMMAND_QUEUE);
                  Fake.configure("pass clFinish");
                  EXPECT_EQ(clFinish(Q), CL_SUCCESS);
                  clReleaseCommandQueue(Q);
                  clReleaseContext(C);
                  EXPECT_EQ(Fake.liveObjects(), 0u);
                });
}

} // namespace
