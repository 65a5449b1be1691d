#include "profile/trace_timeline.h"

#include "frame/cl_call.h"
#include "profile/timeline_writer.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <vector>

// The OpenMP runtime's global thread number names a thread's track, as it names its profile.
extern "C" int32_t __kmpc_global_thread_num(void *);

namespace {

// Bounds the memory a long run spends on its timeline.
constexpr size_t TimelineCapacity = 1000000;

// Device time Device was host time Host.
struct ClockPair {
  bool Valid = false;
  uint64_t Device = 0;
  uint64_t Host = 0;
};

struct TimelineRecorder {
  std::mutex Lock;
  TimelineRing Ring{TimelineCapacity};
  std::vector<ClockPair> Pairs; // by device number
};

// Never destroyed: a compiled program's host runtime shuts the plugin down from an exit handler,
// which runs after the destructors of statics constructed later (the recorder's first use is a
// launch), and the shutdown still writes the file.
TimelineRecorder &recorder() {
  static TimelineRecorder *Recorder = new TimelineRecorder;
  return *Recorder;
}

ClockPair clockPair(int32_t DeviceId) {
  TimelineRecorder &R = recorder();
  std::lock_guard<std::mutex> Guard(R.Lock);
  return static_cast<size_t>(DeviceId) < R.Pairs.size() ? R.Pairs[DeviceId] : ClockPair();
}

// Out of memory, an event is lost and counted as dropped: the traced call goes on as if untraced.
void record(TimelineEvent &&Event) {
  TimelineRecorder &R = recorder();
  std::lock_guard<std::mutex> Guard(R.Lock);
  try {
    R.Ring.push(std::move(Event));
  } catch (const std::bad_alloc &) {
    ++R.Ring.Dropped;
  }
}

void fillHostPart(TimelineSpan &Span, TimelineEvent &Event, int32_t DeviceId) {
  Event.DeviceId = DeviceId;
  Event.ThreadId = __kmpc_global_thread_num(nullptr);
  Event.HostBegin = Span.HostBegin;
  Event.HostEnd = Span.HostEnd ? Span.HostEnd : timelineNow();
}

bool queryTime(cl_event ClEvent, cl_profiling_info What, cl_ulong &Time) {
  return CL_CALL_WARN("recordQueueWork", clGetEventProfilingInfo, ClEvent, What,
                      sizeof(cl_ulong), &Time, nullptr) == CL_SUCCESS;
}

} // namespace

uint64_t timelineNow() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void recordHostWork(TimelineSpan &Span, TimelineKind Kind, int32_t DeviceId, int64_t Bytes,
                    int32_t AllocKind) {
  TimelineEvent Event;
  fillHostPart(Span, Event, DeviceId);
  Event.Kind = Kind;
  Event.Bytes = Bytes;
  Event.AllocKind = AllocKind;
  record(std::move(Event));
}

void recordQueueWork(TimelineSpan &Span, TimelineEvent &&Event, cl_event ClEvent) {
  fillHostPart(Span, Event, Event.DeviceId);
  cl_ulong Start = 0, End = 0, Queued = 0;
  if (queryTime(ClEvent, CL_PROFILING_COMMAND_START, Start) &&
      queryTime(ClEvent, CL_PROFILING_COMMAND_END, End) && End >= Start) {
    ClockPair Pair = clockPair(Event.DeviceId);
    // Without a timer pair the command is placed by its queueing time, which the host span
    // brackets: less exact, but on the right place of the timeline.
    if (Pair.Valid || queryTime(ClEvent, CL_PROFILING_COMMAND_QUEUED, Queued)) {
      uint64_t DeviceOrigin = Pair.Valid ? Pair.Device : Queued;
      uint64_t HostOrigin = Pair.Valid ? Pair.Host : Event.HostBegin;
      Event.HasDeviceTimes = true;
      Event.DeviceBegin = HostOrigin + static_cast<int64_t>(Start - DeviceOrigin);
      Event.DeviceEnd = Event.DeviceBegin + (End - Start);
    }
  }
  record(std::move(Event));
}

void recordCopy(TimelineSpan &Span, TimelineKind Kind, int32_t DeviceId, int64_t Bytes,
                cl_event ClEvent) {
  TimelineEvent Copy;
  Copy.Kind = Kind;
  Copy.DeviceId = DeviceId;
  Copy.Bytes = Bytes;
  recordQueueWork(Span, std::move(Copy), ClEvent);
}

void takeTimelineClockPair(int32_t DeviceId) {
  // The pair's own host timer is the driver's; our clock is read around the call instead, and
  // the middle of the two readings stands for the moment of the pair.
  cl_ulong DeviceTime = 0, HostTime = 0;
  uint64_t Before = timelineNow();
  cl_int Rc = CL_CALL_WARN("takeTimelineClockPair", clGetDeviceAndHostTimer,
                           DeviceInfo->Devices[DeviceId], &DeviceTime, &HostTime);
  uint64_t After = timelineNow();
  TimelineRecorder &R = recorder();
  std::lock_guard<std::mutex> Guard(R.Lock);
  if (R.Pairs.size() <= static_cast<size_t>(DeviceId))
    R.Pairs.resize(DeviceId + 1);
  R.Pairs[DeviceId] = {Rc == CL_SUCCESS, DeviceTime, Before + (After - Before) / 2};
}

void writeTimeline() {
  if (!(DeviceInfo->Option.Flags & OptionFlagTimeline))
    return;
  TimelineRecorder &R = recorder();
  std::vector<TimelineEvent> Events;
  uint64_t Dropped;
  {
    std::lock_guard<std::mutex> Guard(R.Lock);
    Events = R.Ring.takeInOrder();
    Dropped = R.Ring.Dropped;
    R.Ring.Dropped = 0;
  }
  const std::string &Path = DeviceInfo->Option.TraceFile;
  std::ofstream Out(Path, std::ios::out | std::ios::trunc);
  if (!Out) {
    warningMessage("Warning: cannot write the trace file %s: %s\n", Path.c_str(),
                   std::strerror(errno));
    return;
  }
  // Shutdown runs inside an entry point: nothing may escape it, a failed write is one warning.
  const char *Failure = nullptr;
  try {
    std::vector<std::string> DeviceNames;
    for (const DevicePropertiesTy &Properties : DeviceInfo->DeviceProperties)
      DeviceNames.push_back(Properties.Name);
    writeTimelineJson(Out, Events, Dropped, DeviceNames);
    Out.close();
    if (Out.fail())
      Failure = "write failed";
  } catch (const std::exception &E) {
    Failure = E.what();
  }
  if (Failure)
    warningMessage("Warning: cannot write the trace file %s: %s\n", Path.c_str(), Failure);
}
