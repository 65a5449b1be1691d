#include "layer_state.h"

#include "device_caps.h"
#include "exception_barrier.h"

#include <mutex>
#include <optional>

using ExclusiveLock = std::lock_guard<std::shared_mutex>;
using SharedLock = std::shared_lock<std::shared_mutex>;

LayerState &layerState() {
  static LayerState *State = new LayerState(); // never destroyed: drivers may call in at exit
  return *State;
}

bool queueKnown(cl_command_queue Queue) {
  LayerState &State = layerState();
  SharedLock Guard(State.Lock);
  return State.Queues.count(Queue) != 0;
}

namespace {

// Erases the record when nothing holds the context any more; the caller holds the lock.
std::optional<ContextRecord> takeIfUnheld(LayerState &State, cl_context Context) {
  auto It = State.Contexts.find(Context);
  if (It == State.Contexts.end() || It->second.RefCount > 0 || It->second.Children > 0)
    return std::nullopt;
  ContextRecord Record = std::move(It->second);
  State.Contexts.erase(It);
  return Record;
}

void contextGone(cl_context Context, std::optional<ContextRecord> Record) {
  if (!Record)
    return;
  if (Record->Served)
    contextReleased(Context, *Record);
  for (cl_event Marker : Record->Released)
    gNext.clReleaseEvent(Marker);
}

// The context's queues, retained under the lock so that none is destroyed meanwhile, and its
// released queues' markers, retained too.
void retainContextWork(cl_context Context, std::vector<cl_command_queue> &Queues,
                       std::vector<cl_event> &Markers) {
  LayerState &State = layerState();
  SharedLock Guard(State.Lock);
  for (auto &[Queue, Record] : State.Queues)
    if (Record.Context == Context && gNext.clRetainCommandQueue(Queue) == CL_SUCCESS)
      Queues.push_back(Queue);
  auto It = State.Contexts.find(Context);
  if (It != State.Contexts.end())
    for (cl_event Marker : It->second.Released)
      if (gNext.clRetainEvent(Marker) == CL_SUCCESS)
        Markers.push_back(Marker);
}

void releaseAll(const std::vector<cl_command_queue> &Queues, const std::vector<cl_event> &Events) {
  for (cl_command_queue Queue : Queues)
    gNext.clReleaseCommandQueue(Queue);
  for (cl_event Event : Events)
    gNext.clReleaseEvent(Event);
}

} // namespace

void adoptChild(cl_context Context) {
  LayerState &State = layerState();
  ExclusiveLock Guard(State.Lock);
  auto It = State.Contexts.find(Context);
  if (It != State.Contexts.end())
    ++It->second.Children;
}

void dropChild(cl_context Context) {
  LayerState &State = layerState();
  std::optional<ContextRecord> Gone;
  {
    ExclusiveLock Guard(State.Lock);
    auto It = State.Contexts.find(Context);
    if (It == State.Contexts.end() || It->second.Children == 0)
      return;
    --It->second.Children;
    Gone = takeIfUnheld(State, Context);
  }
  contextGone(Context, std::move(Gone));
}

cl_int finishContextQueues(cl_context Context) {
  LayerState &State = layerState();
  std::vector<cl_command_queue> Queues;
  std::vector<cl_event> Markers;
  cl_int Result = CL_SUCCESS;
  {
    // Retained under the lock, so that no queue is destroyed before it is finished.
    ExclusiveLock Guard(State.Lock);
    for (auto &[Queue, Record] : State.Queues) {
      if (Record.Context != Context)
        continue;
      cl_int Error = gNext.clRetainCommandQueue(Queue);
      if (Error == CL_SUCCESS)
        Queues.push_back(Queue);
      else if (Result == CL_SUCCESS)
        Result = Error;
    }
    auto It = State.Contexts.find(Context);
    if (It != State.Contexts.end())
      for (cl_event Marker : It->second.Released)
        if (gNext.clRetainEvent(Marker) == CL_SUCCESS)
          Markers.push_back(Marker);
  }
  for (cl_command_queue Queue : Queues) {
    cl_int Error = gNext.clFinish(Queue);
    if (Result == CL_SUCCESS)
      Result = Error;
  }
  if (!Markers.empty()) {
    cl_int Error = gNext.clWaitForEvents(static_cast<cl_uint>(Markers.size()), Markers.data());
    if (Result == CL_SUCCESS)
      Result = Error;
  }
  releaseAll(Queues, Markers);
  return Result;
}

void freeAfterQueuedWork(cl_context Context, cl_device_id Device, std::vector<void *> Bases,
                         const std::vector<cl_event> &Released) {
  if (Bases.empty())
    return;
  std::vector<cl_command_queue> Queues;
  std::vector<cl_event> Markers;
  retainContextWork(Context, Queues, Markers);
  for (cl_event Marker : Released)
    if (gNext.clRetainEvent(Marker) == CL_SUCCESS)
      Markers.push_back(Marker);
  for (cl_command_queue Queue : Queues) {
    cl_event Marker = nullptr;
    if (gNext.clEnqueueMarkerWithWaitList(Queue, 0, nullptr, &Marker) == CL_SUCCESS)
      Markers.push_back(Marker);
    else
      gNext.clFinish(Queue); // without a marker, only waiting keeps the order
  }
  cl_int Error = CL_SUCCESS;
  cl_command_queue Private =
      gNext.clCreateCommandQueueWithProperties(Context, Device, nullptr, &Error);
  if (Private)
    Error = gNext.clEnqueueSVMFree(Private, static_cast<cl_uint>(Bases.size()), Bases.data(),
                                   nullptr, nullptr, static_cast<cl_uint>(Markers.size()),
                                   Markers.empty() ? nullptr : Markers.data(), nullptr);
  if (!Private || Error != CL_SUCCESS) {
    // The memory goes whatever happens; only its time may come later than asked.
    if (!Markers.empty())
      gNext.clWaitForEvents(static_cast<cl_uint>(Markers.size()), Markers.data());
    for (void *Base : Bases)
      gNext.clSVMFree(Context, Base);
  }
  if (Private)
    gNext.clReleaseCommandQueue(Private); // flushes: the free runs after the markers
  releaseAll(Queues, Markers);
}

namespace {

// Keeps what the layer needs to know of a new context. A context the layer cannot describe is
// released and its creation fails: the layer would otherwise treat it as a driver's own.
cl_context recordContext(cl_context Context, cl_int *ErrcodeRet) {
  if (!Context)
    return nullptr;
  ContextRecord Record;
  cl_int Error = contextDevices(Context, Record.Devices);
  Record.FineGrainBuffers = !Record.Devices.empty();
  bool AllServed = !Record.Devices.empty();
  for (cl_device_id Device : Record.Devices) {
    DeviceCaps Caps;
    if ((Error = deviceCaps(Device, Caps)) != CL_SUCCESS)
      break;
    if (!Record.Platform)
      Record.Platform = Caps.Platform;
    AllServed = AllServed && layerServesDevice(Caps);
    if (!(Caps.Svm & CL_DEVICE_SVM_FINE_GRAIN_BUFFER))
      Record.FineGrainBuffers = false;
    if (Record.MaxAllocSize == 0 || Caps.MaxAllocSize < Record.MaxAllocSize)
      Record.MaxAllocSize = Caps.MaxAllocSize;
  }
  if (Error != CL_SUCCESS) {
    gNext.clReleaseContext(Context);
    if (ErrcodeRet)
      *ErrcodeRet = Error;
    return nullptr;
  }
  Record.Served = AllServed;
  LayerState &State = layerState();
  ExclusiveLock Guard(State.Lock);
  State.Contexts[Context] = std::move(Record);
  return Context;
}

cl_context hookCreateContext(const cl_context_properties *Properties, cl_uint NumDevices,
                             const cl_device_id *Devices,
                             void(CL_CALLBACK *Notify)(const char *, const void *, size_t, void *),
                             void *UserData, cl_int *ErrcodeRet) {
  return recordContext(
      gNext.clCreateContext(Properties, NumDevices, Devices, Notify, UserData, ErrcodeRet),
      ErrcodeRet);
}

cl_context hookCreateContextFromType(const cl_context_properties *Properties,
                                     cl_device_type Type,
                                     void(CL_CALLBACK *Notify)(const char *, const void *,
                                                               size_t, void *),
                                     void *UserData, cl_int *ErrcodeRet) {
  return recordContext(
      gNext.clCreateContextFromType(Properties, Type, Notify, UserData, ErrcodeRet), ErrcodeRet);
}

// Counts a successful retain of a handle the layer keeps a record of.
template <typename Records, typename Handle>
cl_int countRetain(cl_int Result, Records LayerState::*Member, Handle Object) {
  if (Result == CL_SUCCESS) {
    LayerState &State = layerState();
    ExclusiveLock Guard(State.Lock);
    auto It = (State.*Member).find(Object);
    if (It != (State.*Member).end())
      ++It->second.RefCount;
  }
  return Result;
}

cl_int hookRetainContext(cl_context Context) {
  return countRetain(gNext.clRetainContext(Context), &LayerState::Contexts, Context);
}

cl_int hookReleaseContext(cl_context Context) {
  LayerState &State = layerState();
  std::optional<ContextRecord> Gone;
  {
    ExclusiveLock Guard(State.Lock);
    auto It = State.Contexts.find(Context);
    if (It != State.Contexts.end() && It->second.RefCount > 0) {
      --It->second.RefCount;
      Gone = takeIfUnheld(State, Context);
    }
  }
  contextGone(Context, std::move(Gone));
  return gNext.clReleaseContext(Context);
}

void recordQueue(cl_command_queue Queue, cl_context Context, cl_device_id Device) {
  {
    LayerState &State = layerState();
    ExclusiveLock Guard(State.Lock);
    QueueRecord Record;
    Record.Context = Context;
    Record.Device = Device;
    State.Queues[Queue] = Record;
  }
  adoptChild(Context);
}

cl_command_queue hookCreateCommandQueueWithProperties(cl_context Context, cl_device_id Device,
                                                      const cl_queue_properties *Properties,
                                                      cl_int *ErrcodeRet) {
  cl_command_queue Queue =
      gNext.clCreateCommandQueueWithProperties(Context, Device, Properties, ErrcodeRet);
  if (Queue)
    recordQueue(Queue, Context, Device);
  return Queue;
}

cl_command_queue hookCreateCommandQueue(cl_context Context, cl_device_id Device,
                                        cl_command_queue_properties Properties,
                                        cl_int *ErrcodeRet) {
  cl_command_queue Queue = gNext.clCreateCommandQueue(Context, Device, Properties, ErrcodeRet);
  if (Queue)
    recordQueue(Queue, Context, Device);
  return Queue;
}

cl_int hookRetainCommandQueue(cl_command_queue Queue) {
  return countRetain(gNext.clRetainCommandQueue(Queue), &LayerState::Queues, Queue);
}

// The record goes before the driver's queue may: another thread retaining the context's queues
// for a blocking free must not find, and retain, a queue the driver has just destroyed. Where
// the layer holds memory in the context, a marker after the queue's last command joins the
// context's record: that memory is freed only after it, without waiting now.
cl_int hookReleaseCommandQueue(cl_command_queue Queue) {
  LayerState &State = layerState();
  std::optional<QueueRecord> Erased;
  {
    ExclusiveLock Guard(State.Lock);
    auto It = State.Queues.find(Queue);
    if (It != State.Queues.end() && --It->second.RefCount == 0) {
      Erased = It->second;
      State.Queues.erase(It);
    }
  }
  if (Erased) {
    cl_event Marker = nullptr;
    if (layerHoldsMemory(Erased->Context) &&
        gNext.clEnqueueMarkerWithWaitList(Queue, 0, nullptr, &Marker) == CL_SUCCESS) {
      std::vector<cl_event> Done;
      {
        ExclusiveLock Guard(State.Lock);
        auto It = State.Contexts.find(Erased->Context);
        if (It != State.Contexts.end()) {
          // Markers already reached need no keeping: queues may come and go all day long.
          std::vector<cl_event> &Kept = It->second.Released;
          for (auto M = Kept.begin(); M != Kept.end();) {
            cl_int Status = CL_QUEUED;
            gNext.clGetEventInfo(*M, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status,
                                 nullptr);
            if (Status == CL_COMPLETE) {
              Done.push_back(*M);
              M = Kept.erase(M);
            } else {
              ++M;
            }
          }
          Kept.push_back(Marker);
        } else {
          Done.push_back(Marker);
        }
      }
      for (cl_event Event : Done)
        gNext.clReleaseEvent(Event);
    }
    dropChild(Erased->Context);
  }
  return gNext.clReleaseCommandQueue(Queue);
}

} // namespace

void installTrackingHooks(cl_icd_dispatch &Table) {
  Table.clCreateContext = guarded<hookCreateContext>;
  Table.clCreateContextFromType = guarded<hookCreateContextFromType>;
  Table.clRetainContext = guarded<hookRetainContext>;
  Table.clReleaseContext = guarded<hookReleaseContext>;
  Table.clCreateCommandQueueWithProperties = guarded<hookCreateCommandQueueWithProperties>;
  Table.clCreateCommandQueue = guarded<hookCreateCommandQueue>;
  Table.clRetainCommandQueue = guarded<hookRetainCommandQueue>;
  Table.clReleaseCommandQueue = guarded<hookReleaseCommandQueue>;
}
