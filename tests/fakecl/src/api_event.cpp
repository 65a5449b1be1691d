// Events, their profiling timestamps, and the device and host clocks.
#include "api.h"
#include "call.h"
#include "commands.h"
#include "info.h"

namespace fakecl {

static EventObj *eventOf(State &S, cl_event E) { return isLive(S, E, ObjectKind::Event) ? E->Obj : nullptr; }

static EventObj *newEvent(State &S, QueueObj &Q, cl_command_type Type) {
  auto *E = new EventObj();
  E->Handle = {dispatchTable(), E};
  E->Queue = &Q.Handle;
  E->Context = Q.Context;
  E->CommandType = Type;
  E->Profiling = Q.Properties & CL_QUEUE_PROFILING_ENABLE;
  ++Q.RefCount; // an event keeps its queue alive
  trackObject(S, ObjectKind::Event, &E->Handle);
  return E;
}

void releaseEvent(State &S, EventObj &E) {
  if (--E.RefCount)
    return;
  QueueObj *Q = E.Queue->Obj;
  retire(S, &E);
  releaseQueue(S, *Q);
}

static void completeEvent(State &S, EventObj &E) {
  EventTimes T;
  if (!S.EventScript.empty()) {
    T = S.EventScript.front();
    S.EventScript.pop_front();
  } else {
    cl_ulong Base = S.EventClock;
    const cl_ulong Offsets[5] = {0, 100, 200, 1200, 1300};
    for (int I = 0; I < 5; ++I)
      T.Values[I] = Base + Offsets[I];
    S.EventClock += 2000;
  }
  for (int I = 0; I < 5; ++I)
    E.Times[I] = T.Values[I];
  E.Status = CL_COMPLETE;
}

void runPending(State &S, QueueObj &Q) {
  std::vector<std::shared_ptr<PendingCommand>> Work;
  Work.swap(Q.Pending);
  // The queue may be destroyed by the last event release below: use only the local list.
  for (auto &Cmd : Work) {
    Cmd->Work();
    completeEvent(S, *Cmd->Event);
    releaseEvent(S, *Cmd->Event);
  }
}

cl_int checkWaitList(State &S, cl_uint NumEvents, const cl_event *Events) {
  if ((NumEvents && !Events) || (!NumEvents && Events))
    return CL_INVALID_EVENT_WAIT_LIST;
  for (cl_uint I = 0; I < NumEvents; ++I)
    if (!eventOf(S, Events[I]))
      return CL_INVALID_EVENT_WAIT_LIST;
  return CL_SUCCESS;
}

cl_int submitCommand(State &S, QueueObj &Q, cl_command_type Type, bool Blocking, std::function<void()> Work,
                     cl_uint NumWait, const cl_event *WaitList, cl_event *EventOut) {
  if (cl_int E = checkWaitList(S, NumWait, WaitList))
    return E;
  for (cl_uint I = 0; I < NumWait; ++I)
    if (WaitList[I]->Obj->Status != CL_COMPLETE)
      runPending(S, *WaitList[I]->Obj->Queue->Obj);
  EventObj *E = newEvent(S, Q, Type);
  E->Status = CL_SUBMITTED;
  if (EventOut) {
    ++E->RefCount;
    *EventOut = &E->Handle;
  }
  auto Cmd = std::make_shared<PendingCommand>();
  Cmd->Work = std::move(Work);
  Cmd->Event = E;
  Q.Pending.push_back(Cmd);
  if (Blocking || !S.Deferred)
    runPending(S, Q);
  return CL_SUCCESS;
}

cl_int CL_API_CALL WaitForEvents(cl_uint NumEvents, const cl_event *Events) {
  Call C("clWaitForEvents", NumEvents, HandleArray<cl_event>{Events, Events ? NumEvents : 0});
  if (cl_int E = C.fault())
    return C.ret(E);
  if (!NumEvents || !Events)
    return C.ret(CL_INVALID_VALUE);
  cl_context Context = nullptr;
  for (cl_uint I = 0; I < NumEvents; ++I) {
    EventObj *E = eventOf(C.S, Events[I]);
    if (!E)
      return C.ret(CL_INVALID_EVENT);
    if (Context && E->Context != Context)
      return C.ret(CL_INVALID_CONTEXT);
    Context = E->Context;
  }
  for (cl_uint I = 0; I < NumEvents; ++I)
    if (Events[I]->Obj->Status != CL_COMPLETE)
      runPending(C.S, *Events[I]->Obj->Queue->Obj);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetEventInfo(cl_event Event, cl_event_info Param, size_t Size, void *Value, size_t *SizeRet) {
  Call C("clGetEventInfo", Event, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  EventObj *E = eventOf(C.S, Event);
  if (!E)
    return C.ret(CL_INVALID_EVENT);
  switch (Param) {
  case CL_EVENT_COMMAND_QUEUE:
    return C.ret(answerScalar(E->Queue, Size, Value, SizeRet));
  case CL_EVENT_CONTEXT:
    return C.ret(answerScalar(E->Context, Size, Value, SizeRet));
  case CL_EVENT_COMMAND_TYPE:
    return C.ret(answerScalar(E->CommandType, Size, Value, SizeRet));
  case CL_EVENT_COMMAND_EXECUTION_STATUS:
    return C.ret(answerScalar<cl_int>(E->Status, Size, Value, SizeRet));
  case CL_EVENT_REFERENCE_COUNT:
    return C.ret(answerScalar<cl_uint>(E->RefCount, Size, Value, SizeRet));
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

cl_int CL_API_CALL GetEventProfilingInfo(cl_event Event, cl_profiling_info Param, size_t Size, void *Value,
                                         size_t *SizeRet) {
  Call C("clGetEventProfilingInfo", Event, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  EventObj *E = eventOf(C.S, Event);
  if (!E)
    return C.ret(CL_INVALID_EVENT);
  if (!E->Profiling || E->Status != CL_COMPLETE)
    return C.ret(CL_PROFILING_INFO_NOT_AVAILABLE);
  if (Param < CL_PROFILING_COMMAND_QUEUED || Param > CL_PROFILING_COMMAND_COMPLETE)
    return C.ret(CL_INVALID_VALUE);
  return C.ret(answerScalar<cl_ulong>(E->Times[Param - CL_PROFILING_COMMAND_QUEUED], Size, Value, SizeRet));
}

cl_int CL_API_CALL RetainEvent(cl_event Event) {
  Call C("clRetainEvent", Event);
  if (cl_int E = C.fault())
    return C.ret(E);
  EventObj *E = eventOf(C.S, Event);
  if (!E)
    return C.ret(CL_INVALID_EVENT);
  ++E->RefCount;
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL ReleaseEvent(cl_event Event) {
  Call C("clReleaseEvent", Event);
  if (cl_int E = C.fault())
    return C.ret(E);
  EventObj *E = eventOf(C.S, Event);
  if (!E)
    return C.ret(CL_INVALID_EVENT);
  releaseEvent(C.S, *E);
  return C.ret(CL_SUCCESS);
}

static ClockReading readClock(State &S) {
  if (!S.TimerScript.empty()) {
    ClockReading R = S.TimerScript.front();
    S.TimerScript.pop_front();
    return R;
  }
  ClockReading R{S.Clock.Device, S.Clock.Host};
  S.Clock.Device += S.Clock.Step;
  S.Clock.Host += S.Clock.Step;
  return R;
}

cl_int CL_API_CALL GetDeviceAndHostTimer(cl_device_id Device, cl_ulong *DeviceTime, cl_ulong *HostTime) {
  Call C("clGetDeviceAndHostTimer", Device, DeviceTime, HostTime);
  if (cl_int E = C.fault())
    return C.ret(E);
  if (!deviceOf(C.S, Device))
    return C.ret(CL_INVALID_DEVICE);
  if (!DeviceTime || !HostTime)
    return C.ret(CL_INVALID_VALUE);
  ClockReading R = readClock(C.S);
  *DeviceTime = R.Device;
  *HostTime = R.Host;
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetHostTimer(cl_device_id Device, cl_ulong *HostTime) {
  Call C("clGetHostTimer", Device, HostTime);
  if (cl_int E = C.fault())
    return C.ret(E);
  if (!deviceOf(C.S, Device))
    return C.ret(CL_INVALID_DEVICE);
  if (!HostTime)
    return C.ret(CL_INVALID_VALUE);
  *HostTime = readClock(C.S).Host;
  return C.ret(CL_SUCCESS);
}

static cl_int enqueueNothing(Call &C, cl_command_queue Queue, cl_command_type Type, cl_uint NumWait,
                             const cl_event *WaitList, cl_event *Event) {
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  return C.ret(submitCommand(C.S, *Q, Type, false, [] {}, NumWait, WaitList, Event));
}

cl_int CL_API_CALL EnqueueMarkerWithWaitList(cl_command_queue Queue, cl_uint NumWait, const cl_event *WaitList,
                                             cl_event *Event) {
  Call C("clEnqueueMarkerWithWaitList", Queue, NumWait, HandleArray<cl_event>{WaitList, WaitList ? NumWait : 0},
         Event);
  return enqueueNothing(C, Queue, CL_COMMAND_MARKER, NumWait, WaitList, Event);
}

cl_int CL_API_CALL EnqueueBarrierWithWaitList(cl_command_queue Queue, cl_uint NumWait, const cl_event *WaitList,
                                              cl_event *Event) {
  Call C("clEnqueueBarrierWithWaitList", Queue, NumWait, HandleArray<cl_event>{WaitList, WaitList ? NumWait : 0},
         Event);
  return enqueueNothing(C, Queue, CL_COMMAND_BARRIER, NumWait, WaitList, Event);
}

} // namespace fakecl
