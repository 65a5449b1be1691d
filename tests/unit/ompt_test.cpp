// The tool interface over the fake driver: which device notifications reach the tool for each
// combination of flags, the lookup function and every entry it serves, the documentation text,
// and the per-launch record read back through the extension entries.
#include "frame/debug.h"
#include "memory_fake_driver.h"
#include "ompt/ompt_entries.h"
#include "ompt_host_state.h"
#include "ordered_results.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace memtest;
using namespace progtest;

extern "C" int32_t __kmpc_global_thread_num(void *);

namespace {

const std::string Module = "kernel k args=0\nentry k\n";

// What the device-initialize callback finds about the documentation text: its length, that it
// begins and ends with a newline, and the heading of each section in order.
std::string describeDocumentation(const char *Text) {
  std::string Doc = Text ? Text : "";
  if (Doc.empty())
    return "empty";
  std::string Found = std::to_string(Doc.size()) + (Doc.front() == '\n' ? " nl" : " -") +
                      (Doc.back() == '\n' ? " nl" : " -");
  std::string Sections = Doc.substr(1);
  for (size_t At = 0; At < Sections.size();) {
    size_t End = Sections.find("\n\n", At);
    std::string Section = Sections.substr(At, End == std::string::npos ? End : End - At);
    Found += " [" + Section.substr(0, Section.find('\n')) + "]";
    if (End == std::string::npos)
      break;
    At = End + 2;
  }
  return Found;
}

void onInitialize(int DeviceNum, const char *Type, ompt_device_t *Device,
                  ompt_function_lookup_t Lookup, const char *Documentation) {
  auto NumProcs =
      reinterpret_cast<ompt_get_device_num_procs_t>(Lookup("ompt_get_device_num_procs"));
  auto StartTrace = reinterpret_cast<ompt_start_trace_t>(Lookup("ompt_start_trace"));
  std::printf("initialize %d %s procs=%d trace=%d doc=%s\n", DeviceNum, Type, NumProcs(Device),
              StartTrace(Device, nullptr, nullptr), describeDocumentation(Documentation).c_str());
}
void onLoad(int DeviceNum, const char *File, int64_t Offset, void *Vma, size_t Bytes, void *Host,
            void *DeviceAddr, uint64_t Module) {
  std::printf("load %d %s %lld %p %zu %p %p %llu\n", DeviceNum, File ? File : "(null)",
              static_cast<long long>(Offset), Vma, Bytes, Host, DeviceAddr,
              static_cast<unsigned long long>(Module));
}
void onUnload(int DeviceNum, uint64_t Module) {
  std::printf("unload %d %llu\n", DeviceNum, static_cast<unsigned long long>(Module));
}
void onFinalize(int DeviceNum) { std::printf("finalize %d\n", DeviceNum); }

void attachCallbacks(OmptHostState &State, uint32_t Flags) {
  State.DeviceInitialize = onInitialize;
  State.DeviceLoad = onLoad;
  State.DeviceUnload = onUnload;
  State.DeviceFinalize = onFinalize;
  State.Flags = Flags;
}

std::string pointerText(const void *P) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%p", P);
  return Text;
}

} // namespace

// The whole host call order through the shared plugin, with the tool attached first.
TEST(Ompt, DeviceNotificationsFollowTheFlags) {
  const std::string Doc =
      "980 nl nl [OMPT entry: \"ompt_get_device_num_procs\"] [OMPT entry: "
      "\"ompt_get_device_time\"] [OMPT entry extension: \"ompt_ext_get_num_teams\"] [OMPT entry "
      "extension: \"ompt_ext_get_thread_limit\"] [OMPT entry extension: "
      "\"ompt_ext_get_code_location\"]";
  const std::string Init = "initialize 0 G procs=24 trace=0 doc=" + Doc;
  const std::string Load = "load 0 (null) -1 (nil) SIZE HOST (nil) 0";
  struct FlagCase {
    bool WithState;
    uint32_t Flags;
    std::vector<std::string> Calls;
  };
  const FlagCase Cases[] = {
      {false, 0, {}},
      {true, 0, {}},
      {true, 0x1, {}},
      {true, 0xF000, {}}, // registered, but OMPT is not enabled
      {true, 0xF001, {Init, Load, "unload 0 0", "finalize 0"}},
      {true, 0x1001, {Init}},
      {true, 0x4001, {Load}},
      {true, 0xA001, {"unload 0 0", "finalize 0"}},
      {true, 0x8001, {"unload 0 0"}},
  };
  for (const FlagCase &C : Cases) {
    SCOPED_TRACE(C.Flags);
    HostEntries Host;
    Host.add("k");
    std::vector<uint8_t> Bytes = spirvModule(Module);
    ChildResult R = runWithFakeDriver({FAKECL_PATH,
                                       PLUGIN_PATH,
                                       OneGPU + "devinfo 0x1002 u32 24\n",
                                       "",
                                       {{"LIBOMPTARGET_DEBUG", "1"}}},
                                      [&](HostPlugin &P, const fakecl_control_v1 &) {
                                        OmptHostState State;
                                        attachCallbacks(State, C.Flags);
                                        P.init_ompt(C.WithState ? &State : nullptr);
                                        P.register_lib(nullptr);
                                        if (P.number_of_devices() != 1 || P.init_device(0) != 0)
                                          return 10;
                                        DeviceImage Image = imageOf(Bytes, Host);
                                        if (!P.load_binary(0, &Image))
                                          return 11;
                                        P.unregister_lib(nullptr);
                                        return 0;
                                      });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    std::vector<std::string> Expected = C.Calls;
    for (std::string &Line : Expected)
      if (Line == Load)
        Line = "load 0 (null) -1 (nil) " + std::to_string(Bytes.size()) + " " +
               pointerText(Bytes.data()) + " (nil) 0";
    EXPECT_EQ(splitLines(R.Stdout), Expected);
    EXPECT_EQ(countLines(R.Stderr, Prefix + "Initialized OMPT"), C.WithState ? 1u : 0u);
    EXPECT_EQ(countLines(R.Stderr, Prefix + "Warning: cannot initialize OMPT"),
              C.WithState ? 0u : 1u);
    EXPECT_EQ(countLines(R.Stderr, Prefix + "Warning: ompt_start_trace_t entry is not available"),
              C.Calls.empty() || C.Calls[0] != Init ? 0u : 1u);
  }
}

// Every entry by its exact name; names that differ in any way find nothing. Entries that offer no
// service warn and answer their "never" value: one of each kind of answer is called (the device
// and extension entries are called by the tests below).
TEST(Ompt, LookupServesEachEntryByItsExactName) {
  for (const char *Name :
       {"ompt_get_device_num_procs", "ompt_get_device_time", "ompt_translate_time",
        "ompt_set_trace_ompt", "ompt_set_trace_native", "ompt_start_trace", "ompt_pause_trace",
        "ompt_flush_trace", "ompt_stop_trace", "ompt_advance_buffer_cursor", "ompt_get_record_type",
        "ompt_get_record_ompt", "ompt_get_record_native", "ompt_get_record_abstract",
        "ompt_ext_get_num_teams", "ompt_ext_get_thread_limit", "ompt_ext_get_code_location"})
    EXPECT_NE(omptLookup(Name), nullptr) << Name;
  // The entry as its own type; the second argument only names the type.
  auto As = [](const char *Name, auto Type) {
    return reinterpret_cast<decltype(Type)>(omptLookup(Name));
  };
  struct UnavailableCase {
    const char *Name;
    std::function<long()> Run;
    long Result;
  };
  const UnavailableCase Cases[] = {
      {"ompt_translate_time",
       [&] { return long(As("ompt_translate_time", ompt_translate_time_t())(nullptr, 5) + 7); }, 7},
      {"ompt_set_trace_ompt",
       [&] { return long(As("ompt_set_trace_ompt", ompt_set_trace_ompt_t())(nullptr, 1, 1)); }, 1},
      {"ompt_start_trace",
       [&] {
         return long(As("ompt_start_trace", ompt_start_trace_t())(nullptr, nullptr, nullptr));
       },
       0},
      {"ompt_get_record_type",
       [&] { return long(As("ompt_get_record_type", ompt_get_record_type_t())(nullptr, 0)); }, 3},
      {"ompt_get_record_native",
       [&] {
         return long(As("ompt_get_record_native", ompt_get_record_native_t())(nullptr, 0,
                                                                              nullptr) != nullptr);
       },
       0},
  };
  for (const UnavailableCase &C : Cases) {
    ChildResult R = runInChild({}, [&] {
      std::printf("%ld\n", C.Run());
      return 0;
    });
    EXPECT_EQ(R.Stdout, std::to_string(C.Result) + "\n") << C.Name;
    EXPECT_EQ(R.Stderr, Prefix + "Warning: " + C.Name + "_t entry is not available\n") << C.Name;
  }
  for (const char *Miss : {"OMPT_GET_DEVICE_TIME", "ompt_get_device_time_t", "ompt_get_device_tim",
                           " ompt_get_device_time", "ompt_get_device_time ", "",
                           "ompt_set_callback", static_cast<const char *>(nullptr)}) {
    // A tool probes optional entries by name: a miss is silent.
    ChildResult R = runInChild({}, [&] { return omptLookup(Miss) ? 1 : 0; });
    EXPECT_EQ(R.ExitStatus, 0) << (Miss ? Miss : "(null)");
    EXPECT_EQ(R.Stderr, "") << (Miss ? Miss : "(null)");
  }
}

// The device entries ask the OpenCL device they are given; a failed query answers 0.
TEST(Ompt, DeviceEntriesAnswerTheDriverOrZero) {
  auto NumProcs =
      reinterpret_cast<ompt_get_device_num_procs_t>(omptLookup("ompt_get_device_num_procs"));
  auto Time = reinterpret_cast<ompt_get_device_time_t>(omptLookup("ompt_get_device_time"));
  struct DeviceCase {
    const char *Faults;
    std::string Result;
  };
  const DeviceCase Cases[] = {
      {"timer device=123456789 host=5", "24 123456789, 0 0"},
      {"fail clGetDeviceInfo\ntimer device=77 host=5", "0 77, 0 0"},
      {"fail clGetDeviceAndHostTimer", "24 0, 0 0"},
  };
  for (const DeviceCase &C : Cases) {
    ChildResult R = runLinked(
        OneGPU + "devinfo 0x1002 u32 24\n", C.Faults, nullptr, [&](const fakecl::Client &) {
          auto Device = reinterpret_cast<ompt_device_t *>(DeviceInfo->Devices[0]);
          // As if started at level 2, where checked calls are traced: these calls are not.
          StartupDebugLevel = 2;
          std::fprintf(stderr, "--- entries\n");
          std::string Answers = results({NumProcs(Device), long(Time(Device))});
          // A tool that passes no device gets 0 from both.
          std::string NoDevice = results({NumProcs(nullptr), long(Time(nullptr))});
          std::printf("%s, %s\n", Answers.c_str(), NoDevice.c_str());
          return 0;
        });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(R.Stdout, C.Result + "\n") << C.Faults;
    EXPECT_EQ(R.Stderr.substr(R.Stderr.find("--- entries\n")), "--- entries\n") << C.Faults;
  }
}

// A launch of 4 teams of 64 is recorded for the launching thread, and read back for the thread's
// current target region only; without an enabled tool nothing is recorded.
TEST(Ompt, LaunchRecordAndTheExtensionEntries) {
  auto Teams = reinterpret_cast<int (*)(ompt_id_t)>(omptLookup("ompt_ext_get_num_teams"));
  auto Threads = reinterpret_cast<int (*)(ompt_id_t)>(omptLookup("ompt_ext_get_thread_limit"));
  auto Where =
      reinterpret_cast<const char *(*)(const void *)>(omptLookup("ompt_ext_get_code_location"));
  struct LaunchCase {
    bool WithState;
    uint32_t Flags;
    std::vector<std::string> Out;
    std::vector<std::string> Warnings;
  };
  const LaunchCase Cases[] = {
      {true,
       0x1,
       {"launch 0 recorded 1", "target 7: 4 64", "target 8: 0 0", "other thread: 0 0",
        "location main.c:12 (null)"},
       {"Warning: cannot find num_teams for target 8",
        "Warning: cannot find thread_limit for target 8"}},
      {true,
       0xF000,
       {"launch 0 recorded 0", "target 7: 0 0", "target 8: 0 0", "other thread: 0 0",
        "location main.c:12 (null)"},
       {"Warning: cannot find num_teams for target 8",
        "Warning: cannot find thread_limit for target 8"}},
      {false,
       0,
       {"launch 0 recorded 0", "target 7: 0 0", "target 8: 0 0", "other thread: 0 0",
        "location (null) (null)"},
       {"Warning: no OMPT state", "Warning: cannot find num_teams for target 7",
        "Warning: no OMPT state", "Warning: cannot find thread_limit for target 7",
        "Warning: no OMPT state", "Warning: cannot find num_teams for target 8",
        "Warning: no OMPT state", "Warning: cannot find thread_limit for target 8",
        "Warning: no OMPT state", "Warning: cannot find num_teams for target 0",
        "Warning: no OMPT state", "Warning: cannot find thread_limit for target 0",
        "Warning: no OMPT state", "Warning: no OMPT state"}},
  };
  for (const LaunchCase &C : Cases) {
    SCOPED_TRACE(C.Flags);
    HostEntries Host;
    Host.add("k");
    ChildResult R = loadLinked(
        OneGPU, Module, Host, [&](OpenCLProgramTy &, TargetTable *Table, const fakecl::Client &) {
          if (!Table)
            return 10;
          OmptHostState State;
          State.Flags = C.Flags;
          __tgt_rtl_init_ompt(C.WithState ? &State : nullptr);
          // The host's side: this thread's current region and a code location it knows.
          int32_t Me = __kmpc_global_thread_num(nullptr);
          State.ThreadStates[Me].TargetId = 7;
          State.ThreadStates[Me].CodeLocations[0x1234] = "main.c:12";
          int32_t Rc = __tgt_rtl_run_target_team_nd_region(0, Table->EntriesBegin[0].address,
                                                           nullptr, nullptr, 0, 4, 64, nullptr);
          std::fprintf(stderr, "--- body\n");
          std::printf("launch %d recorded %d\n", Rc, State.ThreadStates[Me].LaunchNumTeams != 0);
          for (ompt_id_t Id : {7, 8}) {
            std::string Found = results({Teams(Id), Threads(Id)});
            std::printf("target %llu: %s\n", static_cast<unsigned long long>(Id), Found.c_str());
          }
          // A thread that never launched gets a fresh entry: target id 0 matches, no warning.
          std::string Other;
          std::thread([&] { Other = results({Teams(0), Threads(0)}); }).join();
          std::printf("other thread: %s\n", Other.c_str());
          const char *Known = Where(reinterpret_cast<const void *>(0x1234));
          const char *Unknown = Where(reinterpret_cast<const void *>(0x999));
          std::printf("location %s %s\n", Known ? Known : "(null)", Unknown ? Unknown : "(null)");
          return 0;
        });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(splitLines(R.Stdout), C.Out);
    std::vector<std::string> Lines = splitLines(R.Stderr);
    auto Body = std::find(Lines.begin(), Lines.end(), "--- body");
    ASSERT_NE(Body, Lines.end());
    std::vector<std::string> Expected = C.Warnings;
    for (std::string &L : Expected)
      L = Prefix + L;
    EXPECT_EQ(std::vector<std::string>(Body + 1, Lines.end()), Expected);
  }
}
