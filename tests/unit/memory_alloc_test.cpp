// The allocation entry points over the fake driver, with the plugin linked in so that its
// allocation tables can be read directly.
#include "memory_fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/platform_info.h"

using namespace memtest;

namespace {

AllocationTable &table(size_t Index) { return *DeviceInfo->AllocationTables[Index]; }

std::string describe(const fakecl::Client &Fake, void *Ptr, size_t TableIndex = 0) {
  fakecl_usm_info Usm = Fake.usmInfo(Ptr);
  auto Info = table(TableIndex).find(Ptr);
  char Line[160];
  std::snprintf(Line, sizeof(Line), "type=%x size=%zu align=%u kind=%d implicit=%d", Usm.type,
                Usm.size, Usm.alignment, Info ? Info->Kind : -1, Info ? Info->ImplicitArg : -1);
  return Line;
}

} // namespace

TEST(MemoryAlloc, EntryPointRowsChooseKindAndImplicitness) {
  static char HostObject[64];
  struct Case {
    const char *Title;
    std::function<void *()> Alloc;
    std::string Expected;
  } Cases[] = {
      {"device", [] { return __tgt_rtl_data_alloc(0, 64, nullptr, 0); },
       "type=4198 size=64 align=0 kind=0 implicit=1"},
      {"host", [] { return __tgt_rtl_data_alloc(0, 64, nullptr, 1); },
       "type=4197 size=64 align=0 kind=1 implicit=1"},
      {"shared", [] { return __tgt_rtl_data_alloc(0, 64, nullptr, 2); },
       "type=4199 size=64 align=0 kind=2 implicit=1"},
      {"default", [] { return __tgt_rtl_data_alloc(0, 64, nullptr, 3); },
       "type=4198 size=64 align=0 kind=0 implicit=1"},
      {"host kind for a mapped host object",
       [] { return __tgt_rtl_data_alloc(0, 64, HostObject, 1); },
       "type=4198 size=64 align=0 kind=0 implicit=0"},
      {"default for a mapped host object",
       [] { return __tgt_rtl_data_alloc(0, 64, HostObject, 3); },
       "type=4198 size=64 align=0 kind=0 implicit=0"},
      {"aligned default", [] { return __tgt_rtl_data_aligned_alloc(0, 64, 64, 3); },
       "type=4198 size=64 align=64 kind=0 implicit=1"},
      {"aligned host without alignment", [] { return __tgt_rtl_data_aligned_alloc(0, 0, 8, 1); },
       "type=4197 size=8 align=0 kind=1 implicit=1"},
      {"aligned shared", [] { return __tgt_rtl_data_aligned_alloc(0, 4096, 8, 2); },
       "type=4199 size=8 align=4096 kind=2 implicit=1"},
      {"base", [] { return __tgt_rtl_data_alloc_base(0, 64, HostObject, HostObject, 0); },
       "type=4198 size=64 align=0 kind=0 implicit=0"},
  };
  ChildResult R = runLinked(OneGPU, "", nullptr, [&](const fakecl::Client &Fake) {
    for (const Case &C : Cases)
      std::printf("%s\n", describe(Fake, C.Alloc()).c_str());
    std::printf("host table records=%zu\n", table(1).Allocations.size());
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  std::vector<std::string> Lines = splitLines(R.Stdout);
  ASSERT_EQ(Lines.size(), std::size(Cases) + 1) << R.Stdout;
  for (size_t I = 0; I < std::size(Cases); ++I)
    EXPECT_EQ(Lines[I], Cases[I].Expected) << Cases[I].Title;
  EXPECT_EQ(Lines.back(), "host table records=0"); // used only with one context per platform
}

TEST(MemoryAlloc, HostPointerOffsetsAboveAndBelowTheBase) {
  struct Case {
    int64_t Offset, Size;
    std::string Expected; // returned pointer past the driver's, driver size, recorded size
  } Cases[] = {
      {16, 100, "16 116 100"}, {0, 100, "0 100 100"}, {-50, 100, "0 100 100"},
      {-100, 100, "0 101 100"}, {-200, 100, "0 201 100"},
  };
  static char Host[512];
  ChildResult R = runLinked(OneGPU, "", nullptr, [&](const fakecl::Client &Fake) {
    for (const Case &C : Cases) {
      char *HstBase = Host + 256;
      void *P = __tgt_rtl_data_alloc_base(0, C.Size, HstBase + C.Offset, HstBase, 0);
      fakecl_usm_info Usm = Fake.usmInfo(P);
      auto Info = table(0).find(P);
      std::printf("%td %zu %llu %d\n", static_cast<char *>(P) - static_cast<char *>(Usm.base),
                  Usm.size, static_cast<unsigned long long>(Info ? Info->Size : 0),
                  Info && Info->Base == Usm.base);
    }
    return 0;
  });
  std::vector<std::string> Lines = splitLines(R.Stdout);
  ASSERT_EQ(Lines.size(), std::size(Cases)) << R.Stdout << R.Stderr;
  for (size_t I = 0; I < std::size(Cases); ++I)
    EXPECT_EQ(Lines[I], Cases[I].Expected + " 1") << Cases[I].Offset;
}

TEST(MemoryAlloc, AllocInfoReportsBaseOffsetAndExtent) {
  static char Host[64];
  ChildResult R = runLinked(OneGPU, "", nullptr, [](const fakecl::Client &) {
    void *P = __tgt_rtl_data_alloc_base(0, 100, Host + 16, Host, 0);
    void *Q = __tgt_rtl_data_alloc(0, 8, nullptr, 0);
    void *Ptrs[3] = {P, Q, static_cast<char *>(Q) + 1};
    DataAllocInfo Infos[3] = {};
    int Rc = __tgt_rtl_get_data_alloc_info(0, 3, Ptrs, Infos);
    std::printf("%d %d %llu %llu %d %llu %llu %llu\n", Rc,
                Infos[0].Base == reinterpret_cast<uintptr_t>(P) - 16,
                (unsigned long long)Infos[0].Offset, (unsigned long long)Infos[0].Extent,
                Infos[1].Base == reinterpret_cast<uintptr_t>(Q),
                (unsigned long long)Infos[1].Offset, (unsigned long long)Infos[1].Extent,
                (unsigned long long)Infos[2].Extent); // the interior pointer is not a key
    return 0;
  });
  EXPECT_EQ(R.Stdout, "-1 1 16 116 1 0 8 0\n") << R.Stderr;
}

TEST(MemoryAlloc, ZeroFillOnlyWithTheZeroOption) {
  ChildResult R = runLinked(OneGPU, "", nullptr, [](const fakecl::Client &Fake) {
    for (int32_t Option : {0, 1, 2}) {
      static char Host[256];
      auto *P = static_cast<unsigned char *>(__tgt_rtl_data_alloc_base(0, 256, Host, Host, Option));
      int Zeros = 0;
      for (int I = 0; I < 256; ++I)
        Zeros += P[I] == 0;
      std::printf("%d:%d ", Option, Zeros);
    }
    Fake.configure("fail clEnqueueMemcpyTARNO nth=1 err=-5");
    static char Host[8];
    void *Failed = __tgt_rtl_data_alloc_base(0, 8, Host, Host, 2);
    // The allocation stays recorded although no pointer came back.
    std::printf("failed=%d records=%zu ", Failed == nullptr, table(0).Allocations.size());
    // Sizes no host buffer can mirror, from a driver that grants anything: no pointer, and no
    // exception out of the entry point.
    static char Granted[64];
    DeviceInfo->PlatformInfos.begin()->second.ExtensionFunctionPointers[ExtDeviceMemAlloc] =
        reinterpret_cast<void *>(+[](cl_context, cl_device_id, const cl_ulong *, size_t, cl_uint,
                                     cl_int *Rc) -> void * {
          *Rc = CL_SUCCESS;
          return Granted;
        });
    std::printf("unmirrored=%d,%d\n", __tgt_rtl_data_alloc_base(0, -1, Host, Host, 2) == nullptr,
                __tgt_rtl_data_alloc_base(0, int64_t(1) << 62, Host, Host, 2) == nullptr);
    return 0;
  });
  EXPECT_EQ(R.Stdout, "0:0 1:0 2:256 failed=1 records=4 unmirrored=1,1\n") << R.Stderr;
}

TEST(MemoryAlloc, ReallocKeepsOrMovesAndPreservesWhatFits) {
  struct Case {
    const char *Title;
    int32_t OldKind;
    int64_t OldSize;
    int64_t NewSize;
    int32_t NewKind;
    std::string Expected; // moved, preserved bytes, new driver type, old freed, driver copies
  } Cases[] = {
      {"smaller, same kind", 0, 64, 32, 0, "moved=0 same=32 type=4198 freed=0 copies=0"},
      {"same size, default kind", 0, 64, 64, 3, "moved=1 same=64 type=4198 freed=1 copies=1"},
      {"larger, same kind", 0, 64, 128, 0, "moved=1 same=64 type=4198 freed=1 copies=1"},
      {"smaller, device to host", 0, 64, 16, 1, "moved=1 same=16 type=4197 freed=1 copies=1"},
      {"larger, host to shared", 1, 32, 64, 2, "moved=1 same=32 type=4199 freed=1 copies=0"},
      {"smaller, shared to host", 2, 64, 16, 1, "moved=1 same=16 type=4197 freed=1 copies=0"},
      {"smaller, host to device", 1, 64, 8, 0, "moved=1 same=8 type=4198 freed=1 copies=1"},
      {"same size, host as default", 1, 64, 64, 3, "moved=1 same=64 type=4198 freed=1 copies=1"},
  };
  ChildResult R = runLinked(OneGPU, "", nullptr, [&](const fakecl::Client &Fake) {
    for (const Case &C : Cases) {
      auto *Old = static_cast<unsigned char *>(__tgt_rtl_data_alloc(0, C.OldSize, nullptr, C.OldKind));
      for (int64_t I = 0; I < C.OldSize; ++I)
        Old[I] = static_cast<unsigned char>(I + 1);
      size_t Copies = Fake.callCount("clEnqueueMemcpyTARNO");
      auto *New = static_cast<unsigned char *>(__tgt_rtl_data_realloc(0, Old, C.NewSize, C.NewKind));
      if (!New) {
        std::printf("null\n");
        continue;
      }
      int Same = 0;
      while (Same < std::min(C.OldSize, C.NewSize) && New[Same] == Same + 1)
        ++Same;
      std::printf("moved=%d same=%d type=%x freed=%d copies=%zu\n", New != Old, Same,
                  Fake.usmInfo(New).type, Fake.usmInfo(Old).type == 0x4196,
                  Fake.callCount("clEnqueueMemcpyTARNO") - Copies);
    }
    void *Fresh = __tgt_rtl_data_realloc(0, nullptr, 32, 3);
    int Unknown = 0;
    std::printf("null=%x unknown=%d ", Fake.usmInfo(Fresh).type,
                __tgt_rtl_data_realloc(0, &Unknown, 32, 0) == nullptr);
    // A failed copy keeps the old allocation and leaves no new one behind.
    void *Kept = __tgt_rtl_data_alloc(0, 16, nullptr, 0);
    size_t Live = Fake.liveObjects("usm");
    Fake.configure("fail clEnqueueMemcpyTARNO nth=1 err=-5");
    void *Failed = __tgt_rtl_data_realloc(0, Kept, 32, 0);
    std::printf("failed copy=%d,%zu,%x\n", Failed == nullptr, Fake.liveObjects("usm") - Live,
                Fake.usmInfo(Kept).type);
    return 0;
  });
  std::vector<std::string> Lines = splitLines(R.Stdout);
  ASSERT_EQ(Lines.size(), std::size(Cases) + 1) << R.Stdout << R.Stderr;
  for (size_t I = 0; I < std::size(Cases); ++I)
    EXPECT_EQ(Lines[I], Cases[I].Expected) << Cases[I].Title;
  EXPECT_EQ(Lines.back(), "null=4198 unknown=1 failed copy=1,0,4198");
}

TEST(MemoryAlloc, DeleteNeedsTheExactKeyAndFreesTheBase) {
  static char Host[64];
  ChildResult R = runLinked(OneGPU, "", nullptr, [](const fakecl::Client &Fake) {
    char *P = static_cast<char *>(__tgt_rtl_data_alloc_base(0, 32, Host + 8, Host, 0));
    void *Base = Fake.usmInfo(P).base;
    std::printf("interior=%d ", __tgt_rtl_data_delete(0, P + 1));
    std::printf("base=%d ", __tgt_rtl_data_delete(0, Base));
    std::printf("device=%d ", __tgt_rtl_get_device_from_ptr(P + 1));
    std::printf("exact=%d ", __tgt_rtl_data_delete(0, P));
    std::printf("again=%d ", __tgt_rtl_data_delete(0, P));
    std::printf("freed=%d frees=%zu\n", Fake.usmInfo(Base).type == 0x4196,
                Fake.callCount("clMemBlockingFreeTARNO"));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "interior=-1 base=-1 device=0 exact=0 again=-1 freed=1 frees=1\n")
      << R.Stderr;
}

TEST(MemoryAlloc, PointerQueries) {
  ChildResult R = runLinked(TwoGPUs, "", nullptr, [](const fakecl::Client &Fake) {
    char *Dev = static_cast<char *>(__tgt_rtl_data_alloc(1, 64, nullptr, 0));
    char *Host = static_cast<char *>(__tgt_rtl_data_alloc(0, 64, nullptr, 1));
    char *Shared = static_cast<char *>(__tgt_rtl_data_alloc(0, 64, nullptr, 2));
    int Stack = 0;
    std::printf("device of: %d %d %d %d %d %d\n", __tgt_rtl_get_device_from_ptr(Dev),
                __tgt_rtl_get_device_from_ptr(Dev + 63), __tgt_rtl_get_device_from_ptr(Dev + 64),
                __tgt_rtl_get_device_from_ptr(Host), __tgt_rtl_get_device_from_ptr(Shared + 10),
                __tgt_rtl_get_device_from_ptr(&Stack));
    std::printf("accessible: %d %d %d %d %d %d %d %d\n",
                __tgt_rtl_is_accessible_addr_range(1, Dev, 64),
                __tgt_rtl_is_accessible_addr_range(1, Dev + 32, 32),
                __tgt_rtl_is_accessible_addr_range(1, Dev + 32, 33),
                __tgt_rtl_is_accessible_addr_range(1, nullptr, 8),
                __tgt_rtl_is_accessible_addr_range(1, Dev, 0),
                __tgt_rtl_is_accessible_addr_range(0, &Stack, 4),
                __tgt_rtl_is_accessible_addr_range(0, Host + 8, 56),
                __tgt_rtl_is_accessible_addr_range(0, Dev, 8)); // another context's memory
    std::printf("mapping: %d %d %d %d %d\n", __tgt_rtl_requires_mapping(0, &Stack, 4),
                __tgt_rtl_requires_mapping(0, Host, 8), __tgt_rtl_requires_mapping(0, Host, 0),
                __tgt_rtl_requires_mapping(1, Dev, 8), __tgt_rtl_requires_mapping(0, Shared, 8));
    Fake.configure("fail clGetMemAllocInfoTARNO all err=-30");
    std::printf("query fails: %d %d\n", __tgt_rtl_requires_mapping(0, &Stack, 4),
                __tgt_rtl_is_accessible_addr_range(0, Host, 8));
    return 0;
  });
  EXPECT_EQ(R.Stdout, "device of: 1 1 -1 -1 0 -1\naccessible: 1 1 0 0 0 0 1 0\n"
                      "mapping: 1 1 0 0 0\nquery fails: 0 0\n")
      << R.Stderr;
}

TEST(MemoryAlloc, SingleContextKeepsHostMemoryInThePlatformTable) {
  for (bool Single : {false, true}) {
    SCOPED_TRACE(Single);
    ChildResult R = runLinked(
        TwoGPUs, "",
        [Single] {
          if (Single)
            DeviceInfo->Option.Flags |= OptionFlagSingleContext;
        },
        [](const fakecl::Client &) {
          void *Host = __tgt_rtl_data_alloc(0, 64, nullptr, 1);
          std::printf("tables %zu %zu %zu\n", table(0).Allocations.size(),
                      table(1).Allocations.size(), table(2).Allocations.size());
          std::printf("accessible %d %d device %d\n",
                      __tgt_rtl_is_accessible_addr_range(0, Host, 64),
                      __tgt_rtl_is_accessible_addr_range(1, Host, 64),
                      __tgt_rtl_get_device_from_ptr(Host));
          void *Moved = __tgt_rtl_data_realloc(1, Host, 128, 1);
          std::printf("realloc on the other device %d\n", Moved != nullptr);
          std::printf("delete %d\n", __tgt_rtl_data_delete(1, Moved ? Moved : Host));
          return 0;
        });
    EXPECT_EQ(R.Stdout, Single ? "tables 0 0 1\naccessible 1 1 device -1\n"
                                 "realloc on the other device 1\ndelete 0\n"
                               : "tables 1 0 0\naccessible 1 0 device -1\n"
                                 "realloc on the other device 0\ndelete -1\n")
        << R.Stderr;
  }
}

TEST(MemoryAlloc, LargeAllocationPropertyListOnGPUOnly) {
  const std::string Small = "use platform=0 device=0\ndevinfo 0x1010 u64 4096\n";
  struct Case {
    const char *Title;
    std::string Layout;
    bool Cpu;
    int64_t Size;
    std::string Expected;
  } Cases[] = {
      {"GPU above the limit", OneGPU + Small, false, 8192, "1 [0x10001, 0x800000, 0]"},
      {"GPU at the limit", OneGPU + Small, false, 4096, "1 [0]"},
      {"CPU above the limit", OneCPU + Small, true, 8192, "0 [0]"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    ChildResult R = runLinked(
        C.Layout, "",
        [&C] {
          if (C.Cpu)
            DeviceInfo->Option.DeviceType = DeviceTypeCPU;
        },
        [&C](const fakecl::Client &Fake) {
          void *P = __tgt_rtl_data_alloc(0, C.Size, nullptr, 0);
          std::vector<std::string> Calls = Fake.calls("clDeviceMemAllocTARNO");
          std::string Props = Calls.empty() ? "no call" : Calls[0];
          size_t Open = Props.find('['), Close = Props.find(']');
          if (Open != std::string::npos && Close != std::string::npos)
            Props = Props.substr(Open, Close - Open + 1);
          std::printf("%d %s\n", P != nullptr, Props.c_str());
          return 0;
        });
    EXPECT_EQ(R.Stdout, C.Expected + "\n") << R.Stderr;
  }
}
