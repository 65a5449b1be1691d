// Interop objects and the queue entry points over the fake driver, with the plugin linked into the
// test (debug level 1, set by CTest): record slots per kind, the calls each step makes, refused
// records, failing OpenCL calls that must leave the record usable, and the property tables.
#include "memory_fake_driver.h"
#include "ordered_results.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <tuple>

using namespace memtest;

namespace {

// The recorded OpenCL calls, by function name only.
std::string callNames(const fakecl::Client &Fake) {
  std::string Names;
  for (const std::string &Call : Fake.calls())
    Names += (Names.empty() ? "" : " ") + Call.substr(0, Call.find('('));
  return Names;
}

std::string invalidLine(const void *Record) {
  char Line[96];
  std::snprintf(Line, sizeof(Line), "%sInvalid/inconsistent OpenMP interop 0x%016llx",
                Prefix.c_str(),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Record)));
  return Line;
}

// The debug lines a child wrote after its set-up, which ends with the line "--- body".
std::vector<std::string> bodyLines(const std::string &Stderr) {
  std::vector<std::string> Lines = splitLines(Stderr);
  auto Body = std::find(Lines.begin(), Lines.end(), "--- body");
  std::vector<std::string> Found;
  for (auto It = Body == Lines.end() ? Body : Body + 1; It != Lines.end(); ++It)
    if (It->compare(0, Prefix.size(), Prefix) == 0)
      Found.push_back(*It);
  return Found;
}

} // namespace

TEST(Interop, RecordPerKindAndTheCallsOfCreateUseAndRelease) {
  struct KindCase {
    int32_t Kind;
    bool Handles, Queue;
  };
  const KindCase Cases[] = {
      {0, true, false}, {1, true, true}, {2, false, false}, {-1, false, false}};
  for (const KindCase &C : Cases) {
    SCOPED_TRACE(C.Kind);
    ChildResult R = runLinked(OneGPU, "", nullptr, [&](const fakecl::Client &Fake) -> int {
      std::fprintf(stderr, "--- body\n");
      size_t Queues = Fake.liveObjects("queue");
      InteropRecord *I = __tgt_rtl_create_interop(0, C.Kind);
      if (!I)
        return 10;
      std::printf("create: %s\n", callNames(Fake).c_str());
      for (const std::string &Call : Fake.calls("clCreateCommandQueueWithProperties"))
        std::printf("%s\n",
                    Call.substr(Call.find('['), Call.find(']') - Call.find('[') + 1).c_str());
      bool HandlesRight = I->platform == DeviceInfo->Platforms[0] &&
                          I->device == DeviceInfo->Devices[0] &&
                          I->device_context == DeviceInfo->getContext(0);
      bool HandlesNull = !I->platform && !I->device && !I->device_context;
      std::printf("%ld %s %ld %s %ld handles=%s queue=%d property=%d reserved=%d\n", long(I->fr_id),
                  I->fr_name, long(I->vendor), I->vendor_name, long(I->device_num),
                  HandlesRight  ? "device"
                  : HandlesNull ? "none"
                                : "wrong",
                  I->targetsync != nullptr, I->plugin_property != nullptr,
                  I->reserved[0] || I->reserved[1] || I->reserved[2] || I->reserved[3]);
      Fake.resetLog();
      std::string Used = results({__tgt_rtl_use_interop(0, I),
                                  __tgt_rtl_get_interop_property_value(0, I, -1, 0, 0, nullptr)});
      std::printf("use, value: %s: %s\n", Used.c_str(), callNames(Fake).c_str());
      Fake.resetLog();
      int32_t Released = __tgt_rtl_release_interop(0, I);
      std::printf("release=%d: %s\n", Released, callNames(Fake).c_str());
      return Fake.liveObjects("queue") == Queues ? 0 : 11;
    });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    std::vector<std::string> Expected = {C.Queue ? "create: clCreateCommandQueueWithProperties"
                                                 : "create: "};
    if (C.Queue) // out of order and profiling, whatever the plugin's options say
      Expected.push_back("[0x1093, 0x3, 0]");
    Expected.push_back(std::string("3 opencl 8 tarno 0 handles=") +
                       (C.Handles ? "device" : "none") + " queue=" + (C.Queue ? "1" : "0") +
                       " property=1 reserved=0");
    Expected.push_back(C.Queue ? "use, value: 0 0: clFinish" : "use, value: 0 0: ");
    Expected.push_back(C.Queue ? "release=0: clFinish clReleaseCommandQueue" : "release=0: ");
    EXPECT_EQ(splitLines(R.Stdout), Expected);
    EXPECT_EQ(bodyLines(R.Stderr), std::vector<std::string>{});
  }
}

// Records the plugin did not make for that device, or no longer holds, are refused by every entry
// point that takes a record, without being read; the real record is untouched.
TEST(Interop, RefusesNullForeignOtherDeviceAndReleasedRecords) {
  ChildResult R = runLinked(TwoGPUs, "", nullptr, [](const fakecl::Client &Fake) -> int {
    InteropRecord *OnDevice1 = __tgt_rtl_create_interop(1, 1);
    InteropRecord *Released = __tgt_rtl_create_interop(0, 0);
    if (!OnDevice1 || !Released || __tgt_rtl_release_interop(0, Released) != 0)
      return 10;
    InteropRecord Foreign = *OnDevice1; // the same contents, not a record of the plugin
    Foreign.device_num = 0;
    struct BadCase {
      const char *What;
      int32_t DeviceId;
      InteropRecord *Record;
    };
    const BadCase Cases[] = {{"null", 0, nullptr},
                             {"foreign", 0, &Foreign},
                             {"other device", 0, OnDevice1},
                             {"released", 0, Released}};
    Fake.resetLog();
    for (const BadCase &C : Cases) {
      std::fprintf(stderr, "case %s\n", C.What);
      std::string Results =
          results({__tgt_rtl_use_interop(C.DeviceId, C.Record),
                   __tgt_rtl_get_interop_property_value(C.DeviceId, C.Record, -1, 0, 0, nullptr),
                   __tgt_rtl_release_interop(C.DeviceId, C.Record), __tgt_rtl_flush_queue(C.Record),
                   __tgt_rtl_sync_barrier(C.Record), __tgt_rtl_async_barrier(C.Record)});
      std::printf("%s: %s\n", C.What, Results.c_str());
    }
    std::fprintf(stderr, "case end\n");
    std::printf("calls: %s\n", callNames(Fake).c_str());
    std::string Made = results(
        {__tgt_rtl_create_interop(-1, 0) != nullptr, __tgt_rtl_create_interop(2, 1) != nullptr});
    std::printf("create on bad devices: %s\n", Made.c_str());
    // The record of device 1 is still whole and is released where it belongs.
    std::string Whole = results({OnDevice1->device_num, __tgt_rtl_release_interop(1, OnDevice1)});
    std::printf("device 1: %s\n", Whole.c_str());
    std::fprintf(stderr, "ptrs %p %p %p\n", static_cast<void *>(&Foreign),
                 static_cast<void *>(OnDevice1), static_cast<void *>(Released));
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(splitLines(R.Stdout),
            (std::vector<std::string>{
                // use, value, release, flush, sync, async
                "null: -1 -1 -1 -1 -1 -1", "foreign: -1 -1 -1 -1 -1 -1",
                // Another device's record is refused where it is used or released; the property
                // query and the queue entry points look at the record alone.
                "other device: -1 0 -1 0 0 0", "released: -1 -1 -1 -1 -1 -1",
                "calls: clFinish clFinish", "create on bad devices: 0 0", "device 1: 1 0"}));
  // Each refusal names the record; the messages of each case in order.
  std::vector<std::string> Lines = splitLines(R.Stderr);
  void *Foreign = nullptr, *OnDevice1 = nullptr, *Released = nullptr;
  ASSERT_EQ(std::sscanf(Lines.back().c_str(), "ptrs %p %p %p", &Foreign, &OnDevice1, &Released), 3);
  auto CaseLines = [&](const std::string &Name) {
    auto Begin = std::find(Lines.begin(), Lines.end(), "case " + Name);
    auto End = std::find_if(Begin + 1, Lines.end(), [](const std::string &L) {
      return L.rfind("case ", 0) == 0 || L.rfind(Prefix, 0) != 0;
    });
    return std::vector<std::string>(Begin + 1, End);
  };
  for (auto [Name, Address, Count] : {std::tuple<const char *, void *, int>{"null", nullptr, 6},
                                      {"foreign", Foreign, 6},
                                      {"other device", OnDevice1, 2},
                                      {"released", Released, 6}})
    EXPECT_EQ(CaseLines(Name), std::vector<std::string>(Count, invalidLine(Address))) << Name;
  EXPECT_EQ(CaseLines("end"),
            (std::vector<std::string>{
                Prefix + "Bad device ID -1", Prefix + "Bad device ID 2"}));
}

// A host global or exit handler may release its interop objects after the plugin's own statics
// are gone: the release must still find the record and free it once.
InteropRecord *RecordAtExit = nullptr;
void releaseAtExit() { std::printf("release at exit: %d\n", __tgt_rtl_release_interop(0, RecordAtExit)); }

TEST(Interop, ReleaseFromAnExitHandler) {
  ChildResult R = runLinked(OneGPU, "", [] { std::atexit(releaseAtExit); },
                            [](const fakecl::Client &) -> int {
                              RecordAtExit = __tgt_rtl_create_interop(0, 0);
                              std::exit(RecordAtExit ? 0 : 10);
                            });
  EXPECT_EQ(R.Signal, 0) << R.Stderr;
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "release at exit: 0\n") << R.Stderr;
}

// A failing OpenCL call fails the step with the checked call's message; a failed release keeps the
// record, which stays usable and is released by a later attempt.
TEST(Interop, FailingCallsKeepTheRecordUsable) {
  using Step = std::function<std::string(InteropRecord *&)>;
  struct FailCase {
    const char *Faults;
    Step Run;
    std::string Result;
    std::vector<std::string> Messages;
  };
  const std::string FinishFailed = " failed with error code -36, CL_INVALID_COMMAND_QUEUE";
  const FailCase Cases[] = {
      {"fail clCreateCommandQueueWithProperties err=-6",
       [](InteropRecord *&) {
         return std::string(__tgt_rtl_create_interop(0, 1) ? "made" : "null");
       },
       "null",
       {"Error: __tgt_rtl_create_interop:clCreateCommandQueueWithProperties failed with error "
        "code -6, CL_OUT_OF_HOST_MEMORY",
        "Error: Failed to create targetsync for interop"}},
      {"fail clFinish err=-36",
       [](InteropRecord *&I) {
         return results({__tgt_rtl_release_interop(0, I), I->fr_id, __tgt_rtl_use_interop(0, I),
                         __tgt_rtl_release_interop(0, I)});
       },
       "-1 3 0 0",
       {"Error: __tgt_rtl_release_interop:clFinish" + FinishFailed}},
      {"fail clReleaseCommandQueue err=-36",
       [](InteropRecord *&I) {
         return results({__tgt_rtl_release_interop(0, I), __tgt_rtl_sync_barrier(I),
                         __tgt_rtl_release_interop(0, I)});
       },
       "-1 0 0",
       {"Error: __tgt_rtl_release_interop:clReleaseCommandQueue" + FinishFailed}},
      {"fail clFinish err=-36 nth=1",
       [](InteropRecord *&I) {
         return results({__tgt_rtl_use_interop(0, I), __tgt_rtl_release_interop(0, I)});
       },
       "-1 0",
       {"Error: __tgt_rtl_use_interop:clFinish" + FinishFailed}},
      {"fail clFinish err=-36 nth=1\nfail clFinish err=-36 nth=2",
       [](InteropRecord *&I) {
         return results({__tgt_rtl_sync_barrier(I), __tgt_rtl_async_barrier(I),
                         __tgt_rtl_flush_queue(I), __tgt_rtl_release_interop(0, I)});
       },
       "-1 -1 0 0",
       {"Error: __tgt_rtl_sync_barrier:clFinish" + FinishFailed,
        "Error: __tgt_rtl_sync_barrier:clFinish" + FinishFailed}},
  };
  for (const FailCase &C : Cases) {
    SCOPED_TRACE(C.Faults);
    ChildResult R = runLinked(OneGPU, "", nullptr, [&](const fakecl::Client &Fake) -> int {
      size_t Queues = Fake.liveObjects("queue");
      InteropRecord *I =
          std::strstr(C.Faults, "CreateCommandQueue") ? nullptr : __tgt_rtl_create_interop(0, 1);
      Fake.configure(C.Faults);
      std::fprintf(stderr, "--- body\n");
      std::printf("%s\n", C.Run(I).c_str());
      return Fake.liveObjects("queue") == Queues ? 0 : 11;
    });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(R.Stdout, C.Result + "\n");
    std::vector<std::string> Expected = C.Messages;
    for (std::string &L : Expected)
      L = Prefix + L;
    EXPECT_EQ(bodyLines(R.Stderr), Expected);
  }
}

TEST(Interop, PropertyNamesDescriptionsAndTheEmptyPluginTables) {
  struct InfoCase {
    int32_t Property, InfoKind;
    const char *Text;
  };
  const InfoCase Cases[] = {
      {-9, 0, "targetsync"}, {-9, 1, "cl_command_queue, opencl command queue handle"},
      {-5, 0, "device_num"}, {-4, 1, "const char *, vendor name"},
      {-1, 0, "fr_id"},      {-1, 1, "intptr_t, foreign runtime ID"},
      {-10, 0, nullptr},     {INT_MIN, 0, nullptr},
      {0, 0, nullptr},       {INT_MAX, 1, nullptr},
      {-1, 2, nullptr},      {-1, -1, nullptr},
  };
  // An unknown property or kind is only a null answer, at every debug level.
  testing::internal::CaptureStderr();
  for (const InfoCase &C : Cases) {
    const char *Text = __tgt_rtl_get_interop_property_info(0, C.Property, C.InfoKind);
    EXPECT_STREQ(Text, C.Text) << C.Property << " " << C.InfoKind;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(__tgt_rtl_get_num_interop_properties(0), 0);
  EXPECT_EQ(__tgt_rtl_get_interop_rc_desc(0, -2), nullptr);
  EXPECT_EQ(__tgt_rtl_synchronize(5, nullptr), 0);
}
