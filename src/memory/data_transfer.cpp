#include "memory/data_transfer.h"

#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "profile/trace_timeline.h"

namespace {

clEnqueueMemcpyTARNO_fn memcpyFunction(int32_t DeviceId) {
  return reinterpret_cast<clEnqueueMemcpyTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtEnqueueMemcpy));
}

// Waits for the copy, adds it to the calling thread's profile and timeline, and drops the event.
// The event is released on every path once it exists, so a failed wait leaks nothing either.
int32_t finishCopy(const char *Op, int32_t DeviceId, cl_event Event, const char *RecordName,
                   TimelineSpan &Span, TimelineKind Kind, int64_t Size) {
  int32_t Result = 0;
  if (CL_CALL(Op, clWaitForEvents, 1, &Event) != CL_SUCCESS)
    Result = -1;
  Span.stop();
  if (Result == 0 && (DeviceInfo->Option.Flags & OptionFlagProfile))
    DeviceInfo->getProfile(DeviceId).update(RecordName, Event);
  if (Result == 0 && Span.On)
    recordCopy(Span, Kind, DeviceId, Size, Event);
  CL_CALL_LOGGED(clReleaseEvent, Event);
  return Result;
}

} // namespace

int32_t submitData(int32_t DeviceId, void *TgtPtr, void *HstPtr, int64_t Size) {
  if (Size == 0)
    return 0;
  clEnqueueMemcpyTARNO_fn Memcpy = memcpyFunction(DeviceId);
  if (!Memcpy) {
    DP("Error: %s:%s is not available\n", "submitData", "clEnqueueMemcpyTARNO");
    return -1;
  }
  cl_command_queue Queue = DeviceInfo->Queues[DeviceId];
  cl_event Event = nullptr;
  TimelineSpan Span;
  if (CL_CALL_PTR("submitData", clEnqueueMemcpyTARNO, Memcpy, Queue, 0, TgtPtr, HstPtr, Size, 0,
                  nullptr, &Event) != CL_SUCCESS)
    return -1;
  return finishCopy("submitData", DeviceId, Event, "DataWrite (Host to Device)", Span,
                    TimelineKind::Write, Size);
}

int32_t retrieveData(int32_t DeviceId, void *HstPtr, void *TgtPtr, int64_t Size) {
  if (Size == 0)
    return 0;
  clEnqueueMemcpyTARNO_fn Memcpy = memcpyFunction(DeviceId);
  if (!Memcpy) {
    DP("Error: %s:%s is not available\n", "retrieveData", "clEnqueueMemcpyTARNO");
    return -1;
  }
  cl_command_queue Queue = DeviceInfo->Queues[DeviceId];
  cl_event Event = nullptr;
  TimelineSpan Span;
  if (CL_CALL_PTR("retrieveData", clEnqueueMemcpyTARNO, Memcpy, Queue, 0, HstPtr, TgtPtr, Size, 0,
                  nullptr, &Event) != CL_SUCCESS)
    return -1;
  return finishCopy("retrieveData", DeviceId, Event, "DataRead (Device to Host)", Span,
                    TimelineKind::Read, Size);
}
