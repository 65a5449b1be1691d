// An example OMPT tool for offloaded programs: it registers the device callbacks, counts device
// initialisations, image loads, kernel launches and their teams, and prints one line when the
// program ends. Loaded by the host runtime, which calls its ompt_start_tool.
#include <omp-tools.h>

#include <atomic>
#include <cstdio>

namespace {

using TargetQueryFn = int (*)(ompt_id_t);

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

// The device's extension entries, found when the first device is initialised.
std::atomic<TargetQueryFn> GetNumTeams{nullptr};
std::atomic<TargetQueryFn> GetThreadLimit{nullptr};

void onDeviceInitialize(int, const char *, ompt_device_t *, ompt_function_lookup_t Lookup,
                        const char *) {
  ++Seen.Devices;
  GetNumTeams = reinterpret_cast<TargetQueryFn>(Lookup("ompt_ext_get_num_teams"));
  GetThreadLimit = reinterpret_cast<TargetQueryFn>(Lookup("ompt_ext_get_thread_limit"));
}

void onDeviceLoad(int, const char *, int64_t, void *, size_t Bytes, void *, void *, uint64_t) {
  ++Seen.Loads;
  Seen.LoadBytes += Bytes;
}

void onDeviceUnload(int, uint64_t) {}

void onDeviceFinalize(int) { ++Seen.Finalized; }

// At the end of a target region the device still holds the sizes of the region's launch.
void onTarget(ompt_target_t, ompt_scope_endpoint_t Endpoint, int, ompt_data_t *, ompt_id_t TargetId,
              const void *) {
  TargetQueryFn Teams = GetNumTeams, Threads = GetThreadLimit;
  if (Endpoint != ompt_scope_end || !Teams || !Threads)
    return;
  ++Seen.Launches;
  Seen.Teams += static_cast<unsigned>(Teams(TargetId));
  int PerTeam = Threads(TargetId);
  for (int Max = Seen.MaxThreadsPerTeam; PerTeam > Max;)
    Seen.MaxThreadsPerTeam.compare_exchange_weak(Max, PerTeam);
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
