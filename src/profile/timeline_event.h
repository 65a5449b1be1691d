// One piece of the plugin's work as the timeline shows it, and the ring that keeps the most recent
// ones: a plain record and a bounded buffer, free of any OpenCL state, so both are testable alone.
#ifndef PROFILE_TIMELINE_EVENT_H
#define PROFILE_TIMELINE_EVENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TimelineKind : uint8_t { Compile, Link, Alloc, Write, Read, Kernel };

struct TimelineEvent {
  TimelineKind Kind = TimelineKind::Compile;
  int32_t DeviceId = 0;
  int32_t ThreadId = 0;   // the OpenMP global thread number, as in the profile tables
  uint64_t HostBegin = 0; // host clock, nanoseconds
  uint64_t HostEnd = 0;
  // Device execution, already mapped onto the host clock; only for work that ran on a queue.
  bool HasDeviceTimes = false;
  uint64_t DeviceBegin = 0;
  uint64_t DeviceEnd = 0;
  int64_t Bytes = -1;     // allocations and copies
  int32_t AllocKind = -1; // allocations: 0 device, 1 host, 2 shared
  std::string Name;       // kernels: the kernel's function name
  size_t Global[3] = {0, 0, 0};
  size_t Local[3] = {0, 0, 0};
};

// The most recent Capacity events in recording order; older ones are overwritten and counted.
struct TimelineRing {
  size_t Capacity;
  std::vector<TimelineEvent> Slots;
  size_t Next = 0; // the slot the next event overwrites once the ring is full
  uint64_t Dropped = 0;

  explicit TimelineRing(size_t Cap) : Capacity(Cap) {}
  void push(TimelineEvent &&Event);
  // Hands over the kept events, oldest first, and leaves the ring empty.
  std::vector<TimelineEvent> takeInOrder();
};

// The Trace Event Format names of a kind: the event's name (kernels use their own) and category.
const char *timelineKindName(TimelineKind Kind);
const char *timelineKindCategory(TimelineKind Kind);

#endif
