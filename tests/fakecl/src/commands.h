// Commands on a queue: each one gets an event; in deferred mode non-blocking commands wait in the
// queue until clFinish, clWaitForEvents or a blocking command on the same queue runs them.
#pragma once

#include "state.h"

#include <functional>

namespace fakecl {

struct PendingCommand {
  std::function<void()> Work;
  EventObj *Event = nullptr;
};

cl_int checkWaitList(State &S, cl_uint NumEvents, const cl_event *Events);
// Runs or queues Work. With EventOut the caller receives the command's event (one reference).
cl_int submitCommand(State &S, QueueObj &Q, cl_command_type Type, bool Blocking, std::function<void()> Work,
                     cl_uint NumWait, const cl_event *WaitList, cl_event *EventOut);
void runPending(State &S, QueueObj &Q);

} // namespace fakecl
