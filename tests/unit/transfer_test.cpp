// Host-device copies through the plugin's transfer entry points over the fake driver.
#include "memory_fake_driver.h"
#include "omptargetplugin.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace memtest;

namespace {

// A pattern that differs at every offset of a page and between sizes.
std::vector<unsigned char> pattern(size_t Size) {
  std::vector<unsigned char> Bytes(Size);
  for (size_t I = 0; I < Size; ++I)
    Bytes[I] = static_cast<unsigned char>((I * 131 + Size) ^ (I >> 8));
  return Bytes;
}

} // namespace

TEST(Transfer, RoundTripIsByteIdenticalFromOneByteTo64MiB) {
  ChildResult R = runPlugin(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    for (size_t Size : {size_t(1), size_t(3), size_t(4096), size_t(1 << 20) + 7, size_t(64) << 20}) {
      std::vector<unsigned char> In = pattern(Size), Out(Size, 0);
      void *Dev = P.data_alloc(0, Size, nullptr, 0);
      int Submitted = P.data_submit(0, Dev, In.data(), Size);
      int Retrieved = P.data_retrieve(0, Out.data(), Dev, Size);
      // The fake driver keeps device memory in host memory: what arrived can be read directly.
      bool Arrived = Dev && std::memcmp(Dev, In.data(), Size) == 0;
      std::printf("%zu %d %d %d %d\n", Size, Submitted, Retrieved, Arrived, In == Out);
      P.data_delete(0, Dev);
    }
    std::printf("copies=%zu waits=%zu events=%zu\n", Fake.call_count("clEnqueueMemcpyTARNO"),
                Fake.call_count("clWaitForEvents"), Fake.live_objects("event"));
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "1 0 0 1 1\n3 0 0 1 1\n4096 0 0 1 1\n1048583 0 0 1 1\n67108864 0 0 1 1\n"
                      "copies=10 waits=10 events=0\n");
}

TEST(Transfer, AsyncFormsCopyBeforeReturning) {
  ChildResult R = runPlugin(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &) {
    char In[16] = "fifteen bytes..", Out[16] = {};
    void *Dev = P.data_alloc(0, sizeof(In), nullptr, 0);
    std::printf("%d ", P.data_submit_async(0, Dev, In, sizeof(In), nullptr));
    std::printf("%d ", P.data_retrieve_async(0, Out, Dev, sizeof(Out), nullptr));
    std::printf("%s\n", Out);
    return 0;
  });
  EXPECT_EQ(R.Stdout, "0 0 fifteen bytes..\n") << R.Stderr;
}

TEST(Transfer, ZeroSizeMakesNoDriverCall) {
  ChildResult R = runPlugin(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    std::printf("%d %d %d %d %d\n", P.data_submit(0, nullptr, nullptr, 0),
                P.data_retrieve(0, nullptr, nullptr, 0),
                P.data_submit_async(0, nullptr, nullptr, 0, nullptr),
                P.data_retrieve_async(0, nullptr, nullptr, 0, nullptr),
                P.data_exchange(0, nullptr, 0, nullptr, 0));
    std::printf("calls=%zu\n", Fake.call_count("clEnqueueMemcpyTARNO") +
                                   Fake.call_count("clWaitForEvents"));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "0 0 0 0 0\ncalls=0\n") << R.Stderr;
}

TEST(Transfer, FailuresReturnMinusOneAndLeakNoEvent) {
  struct Case {
    const char *Title;
    std::string Faults;
    bool Submit;
    std::string Line;
  } Cases[] = {
      {"submit enqueue", "fail clEnqueueMemcpyTARNO nth=1 err=-5", true,
       "Error: submitData:clEnqueueMemcpyTARNO failed with error code -5, CL_OUT_OF_RESOURCES"},
      {"submit wait", "fail clWaitForEvents nth=1 err=-14", true,
       "Error: submitData:clWaitForEvents failed with error code -14, "
       "CL_EXEC_STATUS_ERROR_FOR_EVENTS_IN_WAIT_LIST"},
      {"retrieve enqueue", "fail clEnqueueMemcpyTARNO nth=1 err=-36", false,
       "Error: retrieveData:clEnqueueMemcpyTARNO failed with error code -36, "
       "CL_INVALID_COMMAND_QUEUE"},
      {"retrieve wait", "fail clWaitForEvents nth=1 err=-58", false,
       "Error: retrieveData:clWaitForEvents failed with error code -58, CL_INVALID_EVENT"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    ChildResult R = runPlugin(OneGPU, C.Faults, {{"LIBOMPTARGET_DEBUG", "1"}},
                              [&C](HostPlugin &P, const fakecl_control_v1 &Fake) {
                                char Host[8] = {};
                                void *Dev = P.data_alloc(0, sizeof(Host), nullptr, 0);
                                int Rc = C.Submit ? P.data_submit(0, Dev, Host, sizeof(Host))
                                                  : P.data_retrieve(0, Host, Dev, sizeof(Host));
                                // A second copy after the fault succeeds again.
                                int Again = P.data_submit(0, Dev, Host, sizeof(Host));
                                std::printf("%d %d events=%zu\n", Rc, Again,
                                            Fake.live_objects("event"));
                                return 0;
                              });
    EXPECT_EQ(R.Stdout, "-1 0 events=0\n") << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + C.Line)) << R.Stderr;
  }
}

TEST(Transfer, ExchangeWithinAndAcrossDevices) {
  ChildResult R = runPlugin(TwoGPUs, "", {{"LIBOMPTARGET_USE_SINGLE_CONTEXT", "1"}},
                            [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    std::printf("exchangable %d %d %d\n", P.is_data_exchangable(0, 0),
                P.is_data_exchangable(1, 1), P.is_data_exchangable(0, 1));
    char In[6] = "hello", Out[6] = {};
    void *Src = P.data_alloc(0, sizeof(In), nullptr, 0);
    void *Dst = P.data_alloc(0, sizeof(In), nullptr, 0);
    void *Other = P.data_alloc(1, sizeof(In), nullptr, 0);
    P.data_submit(0, Src, In, sizeof(In));
    Fake.reset_log();
    int Within = P.data_exchange(0, Src, 0, Dst, sizeof(In));
    size_t CopiesWithin = Fake.call_count("clEnqueueMemcpyTARNO");
    // Both devices share one context here, and still a copy between them is refused.
    int Across = P.data_exchange(0, Src, 1, Other, sizeof(In));
    size_t CopiesAcross = Fake.call_count("clEnqueueMemcpyTARNO") - CopiesWithin;
    P.data_retrieve(0, Out, Dst, sizeof(Out));
    std::printf("within %d copies=%zu %s\nacross %d copies=%zu\n", Within, CopiesWithin, Out,
                Across, CopiesAcross);
    return 0;
  });
  EXPECT_EQ(R.Stdout, "exchangable 1 1 0\nwithin 0 copies=1 hello\nacross -1 copies=0\n")
      << R.Stderr;
}

TEST(Transfer, CallSitesAreLoggedWithTheirArgumentText) {
  ChildResult R = runPlugin(OneGPU, "", {{"LIBOMPTARGET_DEBUG", "2"}},
                            [](HostPlugin &P, const fakecl_control_v1 &) {
                              char Host[4] = {};
                              void *Dev = P.data_alloc(0, sizeof(Host), nullptr, 0);
                              P.data_submit(0, Dev, Host, sizeof(Host));
                              P.data_retrieve(0, Host, Dev, sizeof(Host));
                              return 0;
                            });
  for (const char *Line :
       {"CL_CALLER: clEnqueueMemcpyTARNO ( Queue, 0, TgtPtr, HstPtr, Size, 0, nullptr, &Event )",
        "CL_CALLER: clEnqueueMemcpyTARNO ( Queue, 0, HstPtr, TgtPtr, Size, 0, nullptr, &Event )"})
    EXPECT_EQ(countLines(R.Stderr, Prefix + Line), 1u) << Line << "\n" << R.Stderr;
  EXPECT_EQ(countLines(R.Stderr, Prefix + "CL_CALLER: clWaitForEvents ( 1, &Event )"), 2u);
}

TEST(Transfer, ProfiledCopiesAccumulateIntoOneRecordPerDirection) {
  // Host column: queued to complete; device column: start to end.
  const std::string Times = "event-times queued=1000 submit=1100 start=2000 end=5000 complete=6000\n"
                            "event-times queued=10000 submit=10100 start=11000 end=1011000 "
                            "complete=2010000\n"
                            "event-times queued=0 submit=0 start=0 end=250000 complete=500000\n";
  ChildResult R = runPlugin(OneGPU, Times, {{"LIBOMPTARGET_PLUGIN_PROFILE", "T"}},
                            [](HostPlugin &P, const fakecl_control_v1 &Fake) {
                              char Host[4] = {};
                              // Static storage: no allocation, so only the copies are timed.
                              static char Dev[4];
                              P.data_submit(0, Dev, Host, sizeof(Host));
                              P.data_submit(0, Dev, Host, sizeof(Host));
                              P.data_retrieve(0, Host, Dev, sizeof(Host));
                              std::printf("queries=%zu events=%zu\n",
                                          Fake.call_count("clGetEventProfilingInfo"),
                                          Fake.live_objects("event"));
                              return 0;
                            });
  EXPECT_EQ(R.Stdout, "queries=12 events=0\n") << R.Stderr;
  // 5000 + 2000000 ns on the host, 3000 + 1000000 ns on the device.
  EXPECT_TRUE(hasLine(R.Stderr, "-- DataWrite (Host to Device):                2.005"
                                "                1.003"))
      << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, "-- DataRead (Device to Host) :                0.500"
                                "                0.250"))
      << R.Stderr;
}

TEST(Transfer, WithProfilingOffNoEventOrClockIsQueried) {
  ChildResult R = runPlugin(OneGPU, "", {}, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    char Host[4] = {};
    void *Dev = P.data_alloc(0, sizeof(Host), nullptr, 0);
    P.data_submit(0, Dev, Host, sizeof(Host));
    P.data_retrieve(0, Host, Dev, sizeof(Host));
    P.data_delete(0, Dev);
    std::printf("%zu %zu\n", Fake.call_count("clGetEventProfilingInfo"),
                Fake.call_count("clGetDeviceAndHostTimer"));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "0 0\n") << R.Stderr;
  EXPECT_EQ(R.Stderr.find("LIBOMPTARGET_PLUGIN_PROFILE"), std::string::npos) << R.Stderr;
}
