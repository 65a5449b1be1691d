// The timeline of the plugin's work (LIBOMPTARGET_OPENCL_TRACE_FILE): recording sites open a span
// before the work and record it after; the file is written at shutdown. With the variable unset a
// span costs one test of the options' flags: no clock is read and nothing is recorded.
#ifndef PROFILE_TRACE_TIMELINE_H
#define PROFILE_TRACE_TIMELINE_H

#include "frame/opencl.h"
#include "frame/plugin_state.h"
#include "profile/timeline_event.h"

#include <cstdint>
#include <string>

// Nanoseconds on the host clock every timeline time is expressed in.
uint64_t timelineNow();

struct TimelineSpan {
  bool On;
  uint64_t HostBegin = 0;
  uint64_t HostEnd = 0;

  TimelineSpan() : On(__builtin_expect(DeviceInfo->Option.Flags & OptionFlagTimeline, 0)) {
    if (On)
      HostBegin = timelineNow();
  }
  // Marks the end of the host's part; recording without it takes the time of recording.
  void stop() {
    if (On)
      HostEnd = timelineNow();
  }
};

// Work done by the host alone (builds, allocations). Bytes and AllocKind: -1 when not applicable.
void recordHostWork(TimelineSpan &Span, TimelineKind Kind, int32_t DeviceId, int64_t Bytes = -1,
                    int32_t AllocKind = -1);

// Work that ran on the device's queue, with the device times of its completed, profiled event.
// Event is filled in here except for the kind; Name and sizes are the kernel's.
void recordQueueWork(TimelineSpan &Span, TimelineEvent &&Event, cl_event ClEvent);

// A copy of Bytes bytes (Kind Write or Read) that ran as ClEvent.
void recordCopy(TimelineSpan &Span, TimelineKind Kind, int32_t DeviceId, int64_t Bytes,
                cl_event ClEvent);

// Takes the device's device and host timer pair that maps its event times onto the host clock.
void takeTimelineClockPair(int32_t DeviceId);

// Writes the file; a failure is one warning. Called once at shutdown, while the devices live.
void writeTimeline();

#endif
