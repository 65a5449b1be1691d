// The timeline: the ring and the writer over recorded events, and one run of the demo per way of
// setting LIBOMPTARGET_OPENCL_TRACE_FILE, whose file is read back as a trace viewer reads it.
#include "child_process.h"
#include "profile/timeline_writer.h"
#ifdef FAKECL_PATH
#include "fake_driver_run.h"
#endif

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The complete events of a trace ("ph" X) by track, each track in file order.
std::map<std::pair<int, int>, std::vector<json>> slicesByTrack(const json &Trace) {
  std::map<std::pair<int, int>, std::vector<json>> Tracks;
  for (const json &E : Trace.at("traceEvents"))
    if (E.at("ph") == "X")
      Tracks[{E.at("pid").get<int>(), E.at("tid").get<int>()}].push_back(E);
  return Tracks;
}

// One line per slice: its name and the arguments that identify it.
std::vector<std::string> describe(const std::vector<json> &Slices) {
  std::vector<std::string> Lines;
  for (const json &S : Slices) {
    std::string Line = S.at("name").get<std::string>();
    const json &Args = S.at("args");
    if (Args.contains("bytes"))
      Line += " bytes=" + Args["bytes"].dump();
    if (Args.contains("kind"))
      Line += " kind=" + Args["kind"].get<std::string>();
    if (Args.contains("global"))
      Line += " global=" + Args["global"].dump() + " local=" + Args["local"].dump();
    Lines.push_back(Line);
  }
  return Lines;
}

void expectForwardTimes(const std::vector<json> &Slices) {
  double Last = 0.0;
  for (const json &S : Slices) {
    EXPECT_GE(S.at("ts").get<double>(), Last) << S.dump();
    EXPECT_GE(S.at("dur").get<double>(), 0.0) << S.dump();
    Last = S.at("ts").get<double>();
  }
}

TimelineEvent copyEvent(int32_t Thread, uint64_t Begin, int64_t Bytes) {
  TimelineEvent E;
  E.Kind = TimelineKind::Write;
  E.ThreadId = Thread;
  E.HostBegin = Begin;
  E.HostEnd = Begin + 500;
  E.HasDeviceTimes = true;
  E.DeviceBegin = Begin + 100;
  E.DeviceEnd = Begin + 300;
  E.Bytes = Bytes;
  return E;
}

// A bounded ring keeps the newest events; the file then says how many older ones are missing.
// Events of two threads finish out of order; each track still reads forwards.
TEST(Timeline, RingKeepsNewestAndFileNotesTheDropped) {
  struct Case {
    size_t Capacity;
    int Pushed;
    std::vector<std::string> HostThread0; // kept host slices of thread 0, in file order
    uint64_t Dropped;
  };
  const Case Cases[] = {
      {8, 4, {"DataWrite (Host to Device) bytes=0", "DataWrite (Host to Device) bytes=2"}, 0},
      {3, 5, {"DataWrite (Host to Device) bytes=2", "DataWrite (Host to Device) bytes=4"}, 2},
      {2, 6, {"DataWrite (Host to Device) bytes=4"}, 4},
      {0, 2, {}, 2},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE("capacity " + std::to_string(C.Capacity) + ", " + std::to_string(C.Pushed));
    TimelineRing Ring(C.Capacity);
    // Event I starts at 1000 * I, but odd events (thread 1) are recorded before even ones.
    for (int I = 0; I < C.Pushed; I += 2) {
      if (I + 1 < C.Pushed)
        Ring.push(copyEvent(1, 1000u * (I + 1), I + 1));
      Ring.push(copyEvent(0, 1000u * I, I));
    }
    std::ostringstream Out;
    writeTimelineJson(Out, Ring.takeInOrder(), Ring.Dropped, {"cpu"});
    json Trace = json::parse(Out.str());
    auto Tracks = slicesByTrack(Trace);
    EXPECT_EQ(describe(Tracks[{0, 1}]), C.HostThread0);
    for (const auto &Track : Tracks)
      expectForwardTimes(Track.second);
    EXPECT_EQ(Trace.at("otherData").at("dropped_events"), C.Dropped);
    size_t Notes = 0;
    for (const json &E : Trace.at("traceEvents"))
      if (E.at("ph") == "i")
        Notes += E.at("name") == std::to_string(C.Dropped) + " older events were dropped";
    EXPECT_EQ(Notes, C.Dropped ? 1u : 0u);
  }
}

#ifdef FAKECL_PATH
// One 16-byte copy each way over the fake driver, with scripted event times: unset, the plugin
// reads no clock and makes a plain queue; set, the queue profiles, the device slices keep the
// device clock's distances when the timer pair was taken, and without a pair each command is
// placed by its queueing time inside its host span.
TEST(Timeline, DeviceTimesOverFakeDriver) {
  const std::string Events =
      "event-times queued=1000100 submit=1000200 start=1001000 end=1003000\n"
      "event-times queued=2000000 submit=2000100 start=2000500 end=2000900\n";
  struct Case {
    const char *Name;
    bool Set;
    std::string Faults;
    std::string Calls; // queue properties, timer readings, event queries
    // Device slices: the second's start minus the first's (with a pair), or each one's start
    // minus its host slice's start (without one); then both durations.
    std::vector<double> Distances;
  };
  const Case Cases[] = {
      {"unset", false, "timer device=1000000 host=7\n" + Events,
       "[0x1093, 0] timer=0 profiling=0", {}}, // a 0 property ends the printed list
      {"set with a timer pair", true, "timer device=1000000 host=7\n" + Events,
       "[0x1093, 0x2, 0] timer=1 profiling=4", {999.5, 2.0, 0.4}},
      {"set without a timer pair", true, "fail clGetDeviceAndHostTimer all\n" + Events,
       "[0x1093, 0x2, 0] timer=1 profiling=6", {0.9, 0.5, 2.0, 0.4}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    char Template[] = "/tmp/timeline_fake_XXXXXX";
    const fs::path Dir = mkdtemp(Template), File = Dir / "fake.json";
    EnvironmentList Env;
    if (C.Set)
      Env.emplace_back("LIBOMPTARGET_OPENCL_TRACE_FILE", File.string());
    const std::string OneGPU = "platform version=\"OpenCL 3.0 fake\"\ndevice type=gpu name=\"G\"\n";
    ChildResult R = runWithFakeDriver(
        {FAKECL_PATH, PLUGIN_PATH, OneGPU, C.Faults, Env},
        [](HostPlugin &P, const fakecl_control_v1 &Fake) {
          P.register_lib(nullptr);
          if (P.number_of_devices() != 1 || P.init_device(0) != 0)
            return 80;
          char In[16] = "fifteen bytes..", Out[16] = {};
          void *Dev = P.data_alloc(0, sizeof(In), nullptr, 0);
          if (P.data_submit(0, Dev, In, sizeof(In)) || P.data_retrieve(0, Out, Dev, sizeof(Out)))
            return 81;
          // The queue's property list, as the call record prints it.
          const std::regex Queue(R"(clCreateCommandQueueWithProperties\([^\[]*(\[[^\]]*\]))");
          std::smatch Properties;
          std::string Log = fakeCallLog(Fake);
          std::regex_search(Log, Properties, Queue);
          std::printf("%s timer=%zu profiling=%zu", Properties[1].str().c_str(),
                      Fake.call_count("clGetDeviceAndHostTimer"),
                      Fake.call_count("clGetEventProfilingInfo"));
          P.unregister_lib(nullptr);
          return 0;
        });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(R.Stdout, C.Calls);
    ASSERT_EQ(fs::exists(File), C.Set);
    if (!C.Set) {
      fs::remove_all(Dir);
      continue;
    }
    std::ifstream In(File);
    auto Tracks = slicesByTrack(json::parse(In));
    const std::vector<json> &Host = Tracks[{0, 1}], &Device = Tracks[{0, int(DeviceQueueTrack)}];
    ASSERT_EQ(describe(Device), std::vector<std::string>({"DataWrite (Host to Device) bytes=16",
                                                          "DataRead (Device to Host) bytes=16"}));
    ASSERT_EQ(Host.size(), 3u); // the allocation, then the two copies
    std::vector<double> Distances;
    auto Ts = [](const json &S) { return S.at("ts").get<double>(); };
    if (C.Distances.size() == 3) {
      Distances.push_back(Ts(Device[1]) - Ts(Device[0]));
    } else {
      Distances.push_back(Ts(Device[0]) - Ts(Host[1]));
      Distances.push_back(Ts(Device[1]) - Ts(Host[2]));
    }
    for (const json &S : Device)
      Distances.push_back(S.at("dur").get<double>());
    ASSERT_EQ(Distances.size(), C.Distances.size());
    for (size_t I = 0; I < Distances.size(); ++I)
      EXPECT_NEAR(Distances[I], C.Distances[I], 1e-6) << I;
    fs::remove_all(Dir);
  }
}
#endif

#ifdef DEMO_PATH
// The kernels of the demo's device module, in the order the demo launches them.
std::vector<std::string> moduleKernels() {
  std::ifstream In(DEMO_MODULE_SOURCE);
  std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  std::regex Kernel(R"(__kernel\s+void\s+(\w+)\s*\()");
  std::vector<std::string> Names;
  for (std::sregex_iterator It(Text.begin(), Text.end(), Kernel), End; It != End; ++It)
    Names.push_back((*It)[1]);
  return Names;
}

// Each launch's sizes as the plugin's debug output gives them: global=[...] local=[...].
std::vector<std::string> launchSizes(const std::string &Stderr) {
  std::regex Teams(R"(Team sizes = \{(\d+), (\d+), (\d+)\})");
  std::regex Count(R"(Number of teams = \{(\d+), (\d+), (\d+)\})");
  std::vector<std::string> Sizes;
  unsigned long Local[3] = {0, 0, 0};
  for (const std::string &Line : splitLines(Stderr)) {
    std::smatch M;
    if (std::regex_search(Line, M, Teams)) {
      for (int D = 0; D < 3; ++D)
        Local[D] = std::stoul(M[D + 1].str());
    } else if (std::regex_search(Line, M, Count)) {
      std::string Global, LocalText;
      for (int D = 0; D < 3; ++D) {
        Global += (D ? "," : "") + std::to_string(std::stoul(M[D + 1].str()) * Local[D]);
        LocalText += (D ? "," : "") + std::to_string(Local[D]);
      }
      Sizes.push_back(" global=[" + Global + "] local=[" + LocalText + "]");
    }
  }
  return Sizes;
}

// What the demo's host thread does, in order: build, variables, then three regions.
std::vector<std::string> expectedHostThread(const std::vector<std::string> &K,
                                            const std::vector<std::string> &Sizes) {
  const std::string W = "DataWrite (Host to Device) bytes=", R = "DataRead (Device to Host) bytes=";
  const std::string A = "DataAlloc bytes=";
  return {"Compiling",         "Linking",
          R + "4",             R + "32",
          W + "4",             R + "4",
          A + "4096 kind=device", W + "4096",
          K[0] + Sizes[0],     R + "4096",
          A + "800 kind=device",  W + "800",
          A + "16 kind=device",   W + "16",
          K[1] + Sizes[1],     R + "16",
          A + "8000 kind=device", W + "8000",
          K[2] + Sizes[2],     R + "8000"};
}

// The queue ran the copies and kernels of the host thread, in the same order.
std::vector<std::string> queueWork(const std::vector<std::string> &HostThread) {
  std::vector<std::string> Queue;
  for (const std::string &Line : HostThread)
    if (Line.rfind("Compiling", 0) && Line.rfind("Linking", 0) && Line.rfind("DataAlloc", 0))
      Queue.push_back(Line);
  return Queue;
}

struct DemoRun {
  ChildResult Result;
  fs::path Dir; // the run's working directory, empty before the run
};

DemoRun runDemo(const char *TraceValue, const std::string &TraceFile) {
  DemoRun Run;
  char Template[] = "/tmp/timeline_test_XXXXXX";
  Run.Dir = mkdtemp(Template);
  EnvironmentList Env = {{"OPENCL_LAYERS", LAYER_PATH},
                         {"LIBOMPTARGET_DEVICETYPE", "cpu"},
                         {"LIBOMPTARGET_DEBUG", "1"},
                         {"POCL_CACHE_DIR", POCL_CACHE_DIR}};
  if (TraceValue)
    Env.emplace_back("LIBOMPTARGET_OPENCL_TRACE_FILE",
                     TraceFile.empty() ? TraceValue : (Run.Dir / TraceFile).string());
  std::string Dir = Run.Dir.string();
  Run.Result = runInChild(Env, [&] {
    if (chdir(Dir.c_str()) != 0)
      return 126;
    execl(DEMO_PATH, DEMO_PATH, static_cast<char *>(nullptr));
    return 127;
  });
  return Run;
}

size_t countWarnings(const std::string &Stderr) {
  size_t Count = 0;
  for (const std::string &Line : splitLines(Stderr))
    Count += Line.find("Warning: cannot write the trace file") != std::string::npos;
  return Count;
}

// Set, the file holds the whole run; a path that cannot be written warns once; unset or empty,
// nothing is written. The demo's own results never change.
TEST(Timeline, DemoRun) {
  struct Case {
    const char *Name;
    const char *Value;     // null: unset
    std::string File;      // relative to the run's directory when not empty
    bool Written;
    size_t Warnings;
  };
  const Case Cases[] = {
      {"set", "", "demo.json", true, 0},
      {"unwritable", "", "missing/demo.json", false, 1},
      {"unset", nullptr, "", false, 0},
      {"empty", "", "", false, 0},
  };
  const std::vector<std::string> Kernels = moduleKernels();
  ASSERT_EQ(Kernels.size(), 3u);
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    DemoRun Run = runDemo(C.Value, C.File);
    EXPECT_EQ(Run.Result.ExitStatus, 0) << Run.Result.Stderr;
    EXPECT_TRUE(hasLine(Run.Result.Stdout, "demo: done"));
    EXPECT_EQ(countWarnings(Run.Result.Stderr), C.Warnings) << Run.Result.Stderr;
    std::vector<fs::path> Written;
    for (const auto &Entry : fs::recursive_directory_iterator(Run.Dir))
      Written.push_back(Entry.path());
    if (!C.Written) {
      EXPECT_TRUE(Written.empty());
      fs::remove_all(Run.Dir);
      continue;
    }
    const fs::path File = Run.Dir / C.File;
    EXPECT_TRUE(hasLine(Run.Result.Stderr,
                        "Target OPENCL RTL --> ENV: LIBOMPTARGET_OPENCL_TRACE_FILE=" +
                            File.string()));
    ASSERT_EQ(Written, std::vector<fs::path>{File});
    std::ifstream In(File);
    json Trace = json::parse(In);
    auto Tracks = slicesByTrack(Trace);
    ASSERT_EQ(Tracks.size(), 2u);
    const std::vector<std::string> Sizes = launchSizes(Run.Result.Stderr);
    ASSERT_EQ(Sizes.size(), 3u);
    // The fixed ones: 16 teams of 64, and one work-item.
    EXPECT_EQ(Sizes[0], " global=[1024,1,1] local=[64,1,1]");
    EXPECT_EQ(Sizes[1], " global=[1,1,1] local=[1,1,1]");
    const std::vector<std::string> HostThread = expectedHostThread(Kernels, Sizes);
    EXPECT_EQ(describe(Tracks[{0, 1}]), HostThread);
    EXPECT_EQ(describe(Tracks[{0, int(DeviceQueueTrack)}]), queueWork(HostThread));
    for (const auto &Track : Tracks)
      expectForwardTimes(Track.second);
    EXPECT_EQ(Trace.at("otherData").at("dropped_events"), 0);
    fs::remove_all(Run.Dir);
  }
}
#endif

} // namespace
