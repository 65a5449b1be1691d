#include "profile/timeline_writer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <utility>

namespace {

using nlohmann::json;

// One slice of the file: the host side or the device side of an event.
struct Slice {
  uint64_t Begin;
  uint64_t End;
  size_t Event;
  bool OnDevice;
};

double microseconds(uint64_t Nanoseconds, uint64_t Origin) {
  return static_cast<double>(Nanoseconds - Origin) / 1000.0;
}

json sliceArgs(const TimelineEvent &E) {
  json Args = json::object();
  if (E.Kind == TimelineKind::Kernel) {
    Args["global"] = {E.Global[0], E.Global[1], E.Global[2]};
    Args["local"] = {E.Local[0], E.Local[1], E.Local[2]};
  }
  if (E.Bytes >= 0)
    Args["bytes"] = E.Bytes;
  if (E.AllocKind >= 0)
    Args["kind"] = E.AllocKind == 0 ? "device" : E.AllocKind == 1 ? "host" : "shared";
  return Args;
}

json metadata(const char *What, int32_t Pid, int64_t Tid, const std::string &Name) {
  return {{"ph", "M"}, {"name", What}, {"pid", Pid}, {"tid", Tid}, {"args", {{"name", Name}}}};
}

} // namespace

void writeTimelineJson(std::ostream &Out, const std::vector<TimelineEvent> &Events,
                       uint64_t Dropped, const std::vector<std::string> &DeviceNames) {
  std::vector<Slice> Slices;
  Slices.reserve(Events.size() * 2);
  for (size_t I = 0; I < Events.size(); ++I) {
    const TimelineEvent &E = Events[I];
    Slices.push_back({E.HostBegin, std::max(E.HostBegin, E.HostEnd), I, false});
    if (E.HasDeviceTimes)
      Slices.push_back({E.DeviceBegin, std::max(E.DeviceBegin, E.DeviceEnd), I, true});
  }
  // Sorted by start, so every track reads forwards even when threads finished out of order.
  std::stable_sort(Slices.begin(), Slices.end(),
                   [](const Slice &A, const Slice &B) { return A.Begin < B.Begin; });
  const uint64_t Origin = Slices.empty() ? 0 : Slices.front().Begin;

  // Entries are written one at a time: a million events never become one document in memory.
  Out << "{\"displayTimeUnit\":\"ns\",\"otherData\":"
      << json({{"producer", "libomptarget.rtl.opencl"}, {"dropped_events", Dropped}}).dump()
      << ",\n\"traceEvents\":[";
  bool First = true;
  auto Emit = [&](const json &Entry) {
    // A driver's name need not be valid UTF-8; such bytes become U+FFFD rather than an error.
    Out << (First ? "\n" : ",\n") << Entry.dump(-1, ' ', false, json::error_handler_t::replace);
    First = false;
  };

  std::set<int32_t> Devices;
  std::set<std::pair<int32_t, int64_t>> Tracks;
  for (const Slice &S : Slices) {
    const TimelineEvent &E = Events[S.Event];
    int64_t Tid = S.OnDevice ? DeviceQueueTrack : int64_t(E.ThreadId) + 1;
    Devices.insert(E.DeviceId);
    if (Tracks.insert({E.DeviceId, Tid}).second)
      Emit(metadata("thread_name", E.DeviceId, Tid,
                    S.OnDevice ? std::string("device queue")
                               : "host thread " + std::to_string(E.ThreadId)));
    Emit({{"ph", "X"},
          {"name", E.Kind == TimelineKind::Kernel ? E.Name : timelineKindName(E.Kind)},
          {"cat", timelineKindCategory(E.Kind)},
          {"pid", E.DeviceId},
          {"tid", Tid},
          {"ts", microseconds(S.Begin, Origin)},
          {"dur", static_cast<double>(S.End - S.Begin) / 1000.0},
          {"args", sliceArgs(E)}});
  }
  for (int32_t Device : Devices) {
    std::string Name = "OpenMP device " + std::to_string(Device);
    if (Device >= 0 && static_cast<size_t>(Device) < DeviceNames.size())
      Name += ": " + DeviceNames[Device];
    Emit(metadata("process_name", Device, 0, Name));
  }
  if (Dropped != 0)
    Emit({{"ph", "i"},
          {"s", "g"},
          {"name", std::to_string(Dropped) + " older events were dropped"},
          {"pid", Devices.empty() ? 0 : *Devices.begin()},
          {"tid", 0},
          {"ts", 0.0}});
  Out << "\n]}\n";
}
