// An example OMPT tool for offloaded programs: it registers the device callbacks, counts device
// initialisations, image loads, kernel launches and their teams, and prints one line when the
// program ends, after one line per region whose call site the host runtime named (a compiled
// program's regions by their kernel names). Loaded by the host runtime, which calls its
// ompt_start_tool, or by the host OpenMP runtime (OMP_TOOL_LIBRARIES).
#include <omp-tools.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace {

using TargetQueryFn = int (*)(ompt_id_t);
using CodeLocationFn = const char *(*)(const void *);

struct Counts {
  std::atomic<unsigned> Devices{0};
  std::atomic<unsigned> Loads{0};
  std::atomic<unsigned long long> LoadBytes{0};
  std::atomic<unsigned> Launches{0};
  std::atomic<unsigned long long> Teams{0};
  std::atomic<int> MaxThreadsPerTeam{0};
  std::atomic<unsigned> Finalized{0};
};
Counts Seen;

// Launches per named call site. Never destroyed: the host OpenMP runtime finalizes the tool from
// its own library destructor, which may run after this library's.
struct RegionCounts {
  std::mutex Lock;
  std::map<std::string, unsigned> Launches;
};
RegionCounts &regions() {
  static RegionCounts *Counts = new RegionCounts;
  return *Counts;
}

// The device's extension entries, found when the first device is initialised.
std::atomic<TargetQueryFn> GetNumTeams{nullptr};
std::atomic<TargetQueryFn> GetThreadLimit{nullptr};
std::atomic<CodeLocationFn> GetCodeLocation{nullptr};

void onDeviceInitialize(int, const char *, ompt_device_t *, ompt_function_lookup_t Lookup,
                        const char *) {
  ++Seen.Devices;
  GetNumTeams = reinterpret_cast<TargetQueryFn>(Lookup("ompt_ext_get_num_teams"));
  GetThreadLimit = reinterpret_cast<TargetQueryFn>(Lookup("ompt_ext_get_thread_limit"));
  GetCodeLocation = reinterpret_cast<CodeLocationFn>(Lookup("ompt_ext_get_code_location"));
}

void onDeviceLoad(int, const char *, int64_t, void *, size_t Bytes, void *, void *, uint64_t) {
  ++Seen.Loads;
  Seen.LoadBytes += Bytes;
}

void onDeviceUnload(int, uint64_t) {}

void onDeviceFinalize(int) { ++Seen.Finalized; }

// At the end of a target region the device still holds the sizes of the region's launch.
void onTarget(ompt_target_t, ompt_scope_endpoint_t Endpoint, int, ompt_data_t *, ompt_id_t TargetId,
              const void *CodePtr) {
  TargetQueryFn Teams = GetNumTeams, Threads = GetThreadLimit;
  if (Endpoint != ompt_scope_end || !Teams || !Threads)
    return;
  ++Seen.Launches;
  Seen.Teams += static_cast<unsigned>(Teams(TargetId));
  int PerTeam = Threads(TargetId);
  for (int Max = Seen.MaxThreadsPerTeam; PerTeam > Max;)
    Seen.MaxThreadsPerTeam.compare_exchange_weak(Max, PerTeam);
  CodeLocationFn Where = GetCodeLocation;
  if (const char *Location = Where ? Where(CodePtr) : nullptr) {
    RegionCounts &R = regions();
    std::lock_guard<std::mutex> Guard(R.Lock);
    ++R.Launches[Location];
  }
}

int initialize(ompt_function_lookup_t Lookup, int, ompt_data_t *) {
  auto SetCallback = reinterpret_cast<ompt_set_callback_t>(Lookup("ompt_set_callback"));
  if (!SetCallback)
    return 0;
  SetCallback(ompt_callback_device_initialize,
              reinterpret_cast<ompt_callback_t>(onDeviceInitialize));
  SetCallback(ompt_callback_device_load, reinterpret_cast<ompt_callback_t>(onDeviceLoad));
  SetCallback(ompt_callback_device_unload, reinterpret_cast<ompt_callback_t>(onDeviceUnload));
  SetCallback(ompt_callback_device_finalize, reinterpret_cast<ompt_callback_t>(onDeviceFinalize));
  SetCallback(ompt_callback_target, reinterpret_cast<ompt_callback_t>(onTarget));
  return 1;
}

void finalize(ompt_data_t *) {
  {
    RegionCounts &R = regions();
    std::lock_guard<std::mutex> Guard(R.Lock);
    for (const auto &[Location, Launches] : R.Launches)
      std::printf("ompt_summary: region %s: %u launch(es)\n", Location.c_str(), Launches);
  }
  std::printf("ompt_summary: %u device(s) initialized, %u image(s) loaded (%llu bytes), "
              "%u kernel launch(es), %llu team(s), at most %d threads per team, "
              "%u device(s) finalized\n",
              Seen.Devices.load(), Seen.Loads.load(), Seen.LoadBytes.load(), Seen.Launches.load(),
              Seen.Teams.load(), Seen.MaxThreadsPerTeam.load(), Seen.Finalized.load());
  std::fflush(stdout);
}

} // namespace

extern "C" __attribute__((visibility("default"))) ompt_start_tool_result_t *
ompt_start_tool(unsigned int, const char *) {
  static ompt_start_tool_result_t Result = {initialize, finalize, {0}};
  return &Result;
}
