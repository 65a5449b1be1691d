// Interop on the machine's CPU device: the application's own OpenCL work on an interop object's
// queue, next to a launch of the plugin, with both results checked.
#include "real_image.h"

#include <gtest/gtest.h>

#include <vector>

using namespace realimage;

TEST(RealInterop, OwnWorkOnTheInteropQueueNextToAPluginLaunch) {
  ChildResult R = onRealDevice([]() -> int {
    LoadedImage L;
    TargetTable *Table = __tgt_rtl_load_binary(0, &L.Image);
    InteropRecord *I = __tgt_rtl_create_interop(0, 1);
    if (!Table || !I || !I->targetsync)
      return 81;
    auto Queue = static_cast<cl_command_queue>(I->targetsync);
    auto Context = static_cast<cl_context>(I->device_context);
    cl_context QueueContext = nullptr;
    EXPECT_EQ(clGetCommandQueueInfo(Queue, CL_QUEUE_CONTEXT, sizeof(QueueContext), &QueueContext,
                                    nullptr),
              CL_SUCCESS);
    EXPECT_EQ(QueueContext, Context);

    // The application's work: fill a buffer of its own on the interop queue, without waiting.
    constexpr size_t N = 256;
    cl_int Rc = CL_SUCCESS;
    cl_mem Own = clCreateBuffer(Context, CL_MEM_READ_WRITE, N * sizeof(float), nullptr, &Rc);
    const float Pattern = 3.0f;
    EXPECT_EQ(Rc, CL_SUCCESS);
    EXPECT_EQ(clEnqueueFillBuffer(Queue, Own, &Pattern, sizeof(Pattern), 0, N * sizeof(float), 0,
                                  nullptr, nullptr),
              CL_SUCCESS);

    // The plugin's launch meanwhile: saxpy over N elements as 4 teams of 64.
    std::vector<float> Y(N, 1.0f);
    void *DevY = __tgt_rtl_data_alloc(0, N * sizeof(float), nullptr, 0);
    float A = 2.0f;
    void *Args[] = {DevY, &A};
    ptrdiff_t Offsets[] = {0, 0};
    EXPECT_EQ(__tgt_rtl_data_submit(0, DevY, Y.data(), N * sizeof(float)), 0);
    EXPECT_EQ(__tgt_rtl_run_target_team_nd_region(0, Table->EntriesBegin[0].address, Args, Offsets,
                                                  2, 4, 64, nullptr),
              0);
    EXPECT_EQ(__tgt_rtl_data_retrieve(0, Y.data(), DevY, N * sizeof(float)), 0);

    // Waiting through the plugin completes the application's work.
    EXPECT_EQ(__tgt_rtl_sync_barrier(I), 0);
    std::vector<float> Filled(N, 0.0f);
    EXPECT_EQ(clEnqueueReadBuffer(Queue, Own, CL_TRUE, 0, N * sizeof(float), Filled.data(), 0,
                                  nullptr, nullptr),
              CL_SUCCESS);
    for (size_t K = 0; K < N; ++K) {
      EXPECT_EQ(Filled[K], Pattern) << K;
      EXPECT_EQ(Y[K], 2.0f + float(K % 4 + 1)) << K;
      if (::testing::Test::HasFailure())
        break;
    }
    clReleaseMemObject(Own);
    EXPECT_EQ(__tgt_rtl_data_delete(0, DevY), 0);
    EXPECT_EQ(__tgt_rtl_use_interop(0, I), 0);
    EXPECT_EQ(__tgt_rtl_release_interop(0, I), 0);
    __tgt_rtl_unregister_lib(nullptr);
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stdout << R.Stderr;
}
