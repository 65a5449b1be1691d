// Writes recorded events as Trace Event Format JSON (the format Perfetto and chrome://tracing
// open): one process per device, one track per host thread, one track for the device's queue.
#ifndef PROFILE_TIMELINE_WRITER_H
#define PROFILE_TIMELINE_WRITER_H

#include "profile/timeline_event.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// The track (Trace Event "tid") of a device's queue; host thread N is on track N + 1.
constexpr int64_t DeviceQueueTrack = 0;

// Events in recording order; DeviceNames indexed by device number (missing names are allowed).
// Times are written in microseconds from the earliest time in the file.
void writeTimelineJson(std::ostream &Out, const std::vector<TimelineEvent> &Events,
                       uint64_t Dropped, const std::vector<std::string> &DeviceNames);

#endif
