// What the memory entry points report, and the fatal unknown kind, with the plugin loaded as the
// host runtime loads it.
#include "memory_fake_driver.h"

#include <gtest/gtest.h>

using namespace memtest;

namespace {

const EnvironmentList Debug = {{"LIBOMPTARGET_DEBUG", "1"}};
void *const Unknown = reinterpret_cast<void *>(0x1234);

} // namespace

TEST(MemoryMessages, UnknownKindIsFatalWhateverTheDebugLevel) {
  struct Case {
    const char *Title;
    std::function<void(HostPlugin &)> Call;
  } Cases[] = {
      {"alloc", [](HostPlugin &P) { P.data_alloc(0, 8, nullptr, 7); }},
      {"aligned alloc", [](HostPlugin &P) { P.data_aligned_alloc(0, 8, 8, -1); }},
      {"realloc of null", [](HostPlugin &P) { P.data_realloc(0, nullptr, 8, 4); }},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    ChildResult R = runPlugin(OneGPU, "", {}, [&C](HostPlugin &P, const fakecl_control_v1 &) {
      C.Call(P);
      return 0;
    });
    EXPECT_EQ(R.ExitStatus, 1);
    EXPECT_EQ(R.Stderr, Prefix + "Error: dataAllocExplicit failed (Invalid target data "
                                 "allocation kind) -- exiting...\n");
  }
}

TEST(MemoryMessages, AlignmentMustBeAPowerOfTwo) {
  ChildResult R = runPlugin(OneGPU, "", Debug, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    void *A = P.data_aligned_alloc(0, 24, 8, 0);
    void *B = P.data_aligned_alloc(0, 3, 8, 1);
    size_t Calls = Fake.call_count("clDeviceMemAllocTARNO") + Fake.call_count("clHostMemAllocTARNO");
    void *C = P.data_aligned_alloc(0, 1, 8, 0);
    std::printf("%d %d %zu %d\n", A == nullptr, B == nullptr, Calls, C != nullptr);
    return 0;
  });
  EXPECT_EQ(R.Stdout, "1 1 0 1\n") << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Error: Alignment 24 is not power of two.")) << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Error: Alignment 3 is not power of two.")) << R.Stderr;
}

TEST(MemoryMessages, UnknownPointers) {
  ChildResult R = runPlugin(OneGPU, "", Debug, [](HostPlugin &P, const fakecl_control_v1 &) {
    void *Ptrs[1] = {Unknown};
    DataAllocInfo Infos[1];
    std::printf("%d %d %d\n", P.data_delete(0, Unknown),
                P.data_realloc(0, Unknown, 8, 0) == nullptr,
                P.get_data_alloc_info(0, 1, Ptrs, Infos));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "-1 1 -1\n") << R.Stderr;
  for (const char *Line :
       {"Error: Cannot find memory allocation information for 0x0000000000001234",
        "Error: Cannot find allocation information for pointer 0x0000000000001234",
        "__tgt_rtl_get_data_alloc_info cannot find allocation information for "
        "0x0000000000001234"})
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + Line)) << Line << "\n" << R.Stderr;
}

TEST(MemoryMessages, DeleteWithoutTheFreeFunctionFailsAndKeepsTheRecord) {
  ChildResult R = runPlugin(OneGPU + "extfn clMemBlockingFreeTARNO off\n", "", Debug,
                            [](HostPlugin &P, const fakecl_control_v1 &) {
                              void *Ptr = P.data_alloc(0, 8, nullptr, 0);
                              std::printf("%d %d\n", P.data_delete(0, Ptr),
                                          P.get_device_from_ptr(Ptr));
                              return 0;
                            });
  EXPECT_EQ(R.Stdout, "-1 0\n") << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Error: __tgt_rtl_data_delete:clMemBlockingFreeTARNO is "
                                         "not available"))
      << R.Stderr;
}

TEST(MemoryMessages, AllocationFailuresLeaveNoRecord) {
  struct Case {
    const char *Title;
    std::string Fault;
    int32_t Kind;
    std::string Line;
  } Cases[] = {
      {"device", "fail clDeviceMemAllocTARNO nth=1 err=-6", 0,
       "Error: dataAlloc:clDeviceMemAllocTARNO failed with error code -6, CL_OUT_OF_HOST_MEMORY"},
      {"host", "fail clHostMemAllocTARNO nth=1 err=-4", 1,
       "Error: dataAllocExplicit:clHostMemAllocTARNO failed with error code -4, "
       "CL_MEM_OBJECT_ALLOCATION_FAILURE"},
      {"shared", "fail clSharedMemAllocTARNO nth=1 err=-5", 2,
       "Error: dataAllocExplicit:clSharedMemAllocTARNO failed with error code -5, "
       "CL_OUT_OF_RESOURCES"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    ChildResult R = runPlugin(OneGPU, C.Fault, Debug, [&C](HostPlugin &P, const fakecl_control_v1 &) {
      void *Failed = P.data_alloc(0, 8, nullptr, C.Kind);
      // Nothing was recorded: a pointer near the failed one finds no device.
      void *Next = P.data_alloc(0, 8, nullptr, C.Kind);
      std::printf("%d %d %d\n", Failed == nullptr, Next != nullptr,
                  P.get_device_from_ptr(Failed));
      return 0;
    });
    EXPECT_EQ(R.Stdout, "1 1 -1\n") << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + C.Line)) << R.Stderr;
  }
}

TEST(MemoryMessages, RequiresMappingReportsItsAnswerAndItsFailure) {
  ChildResult R = runPlugin(OneGPU, "", Debug, [](HostPlugin &P, const fakecl_control_v1 &Fake) {
    void *Dev = P.data_alloc(0, 8, nullptr, 0);
    std::printf("%d %d ", P.requires_mapping(0, Unknown, 8), P.requires_mapping(0, Dev, 8));
    Fake.configure("fail clGetMemAllocInfoTARNO nth=1 err=-30", nullptr, 0);
    std::printf("%d\n", P.requires_mapping(0, Unknown, 8));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "1 0 0\n") << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Ptr 0x0000000000001234 requires mapping.")) << R.Stderr;
  EXPECT_EQ(countLines(R.Stderr, Prefix + "Ptr 0x0000000000001234 requires mapping."), 1u);
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Error: __tgt_rtl_requires_mapping:"
                                         "clGetMemAllocInfoTARNO failed with error code -30, "
                                         "CL_INVALID_VALUE"))
      << R.Stderr;
}

TEST(MemoryMessages, IndirectAccessIsAnnouncedWhenTheDriverOffersIt) {
  for (bool Offered : {true, false}) {
    SCOPED_TRACE(Offered);
    std::string Layout = OneGPU + (Offered ? "" : "extfn clVelkIndirectAllocationOffsets off\n");
    // At level 2, where checked calls are traced: the announcement is not one of them.
    ChildResult R = runPlugin(Layout, "", {{"LIBOMPTARGET_DEBUG", "2"}},
                              [](HostPlugin &P, const fakecl_control_v1 &Fake) {
      int Rc = P.notify_indirect_access(0, reinterpret_cast<void *>(0x1010), 16);
      std::string Log = fakeCallLog(Fake);
      // The base and one offset: the pointer's distance from the base.
      bool Args = Log.find("clVelkIndirectAllocationOffsets(0x1000, 1, [16])") != std::string::npos;
      std::printf("%d %zu %d\n", Rc, Fake.call_count("clVelkIndirectAllocationOffsets"), Args);
      std::fprintf(stderr, "%s", Log.c_str());
      return 0;
    });
    EXPECT_EQ(R.Stdout, Offered ? "0 1 1\n" : "0 0 0\n") << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Notifying indirect access: 0x0000000000001000 + 16"))
        << R.Stderr;
    EXPECT_EQ(R.Stderr.find("CL_CALLER: clVelkIndirectAllocationOffsets"), std::string::npos);
  }
}
