// Copies between any mix of host, shared and device pointers.
#include "usm_state.h"
#include "vendor_usm.h"

namespace {

// The CPU driver refuses a zero-byte SVM copy: a marker takes its place in the queue, so that it
// still honours its wait list and the queue's order, and its event is the queue's.
cl_int emptyCopy(cl_command_queue Queue, cl_bool Blocking, cl_uint NumEvents,
                 const cl_event *WaitList, cl_event *Event) {
  cl_event Marker = nullptr;
  cl_int Error = gNext.clEnqueueMarkerWithWaitList(Queue, NumEvents, WaitList,
                                                   Event || Blocking ? &Marker : nullptr);
  if (Error != CL_SUCCESS || !Marker)
    return Error;
  if (Blocking)
    Error = gNext.clWaitForEvents(1, &Marker);
  if (Event && Error == CL_SUCCESS)
    *Event = Marker;
  else
    gNext.clReleaseEvent(Marker);
  return Error;
}

} // namespace

extern "C" cl_int CL_API_CALL layerEnqueueMemcpy(cl_command_queue queue, cl_bool blocking,
                                                 void *dst_ptr, const void *src_ptr, size_t size,
                                                 cl_uint num_events_in_wait_list,
                                                 const cl_event *event_wait_list,
                                                 cl_event *event) {
  if (!queue || !queueKnown(queue))
    return CL_INVALID_COMMAND_QUEUE;
  if ((num_events_in_wait_list == 0) != (event_wait_list == nullptr))
    return CL_INVALID_EVENT_WAIT_LIST;
  if (size == 0)
    return emptyCopy(queue, blocking, num_events_in_wait_list, event_wait_list, event);
  if (!dst_ptr || !src_ptr)
    return CL_INVALID_VALUE;
  return gNext.clEnqueueSVMMemcpy(queue, blocking, dst_ptr, src_ptr, size,
                                  num_events_in_wait_list, event_wait_list, event);
}
