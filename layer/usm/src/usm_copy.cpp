// Copies between any mix of host, shared and device pointers.
#include "usm_state.h"
#include "vendor_usm.h"

namespace {

// A zero-byte copy is an error for some drivers; it finishes here instead, after its wait list.
cl_int completeEmptyCopy(cl_command_queue Queue, cl_uint NumEvents, const cl_event *WaitList,
                         cl_event *Event) {
  if (NumEvents > 0) {
    cl_int Error = gNext.clWaitForEvents(NumEvents, WaitList);
    if (Error != CL_SUCCESS)
      return Error == CL_EXEC_STATUS_ERROR_FOR_EVENTS_IN_WAIT_LIST ? Error
                                                                    : CL_INVALID_EVENT_WAIT_LIST;
  }
  if (!Event)
    return CL_SUCCESS;
  cl_context Context = nullptr;
  cl_int Error = gNext.clGetCommandQueueInfo(Queue, CL_QUEUE_CONTEXT, sizeof(Context), &Context,
                                             nullptr);
  if (Error != CL_SUCCESS)
    return Error;
  cl_event Done = gNext.clCreateUserEvent(Context, &Error);
  if (!Done)
    return Error;
  if ((Error = gNext.clSetUserEventStatus(Done, CL_COMPLETE)) != CL_SUCCESS) {
    gNext.clReleaseEvent(Done);
    return Error;
  }
  *Event = Done;
  return CL_SUCCESS;
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
    return completeEmptyCopy(queue, num_events_in_wait_list, event_wait_list, event);
  if (!dst_ptr || !src_ptr)
    return CL_INVALID_VALUE;
  return gNext.clEnqueueSVMMemcpy(queue, blocking, dst_ptr, src_ptr, size,
                                  num_events_in_wait_list, event_wait_list, event);
}
