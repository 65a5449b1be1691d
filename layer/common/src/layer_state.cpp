#include "layer_state.h"

#include "device_caps.h"

#include <optional>

LayerState &layerState() {
  static LayerState *State = new LayerState(); // never destroyed: drivers may call in at exit
  return *State;
}

bool queueKnown(cl_command_queue Queue) {
  LayerState &State = layerState();
  std::lock_guard<std::mutex> Guard(State.Lock);
  return State.Queues.count(Queue) != 0;
}

cl_int finishContextQueues(cl_context Context) {
  LayerState &State = layerState();
  std::vector<cl_command_queue> Queues;
  cl_int Result = CL_SUCCESS;
  {
    // Retained under the lock, so that no queue is destroyed before it is finished.
    std::lock_guard<std::mutex> Guard(State.Lock);
    for (auto &[Queue, Record] : State.Queues) {
      if (Record.Context != Context)
        continue;
      cl_int Error = gNext.clRetainCommandQueue(Queue);
      if (Error == CL_SUCCESS)
        Queues.push_back(Queue);
      else if (Result == CL_SUCCESS)
        Result = Error;
    }
  }
  for (cl_command_queue Queue : Queues) {
    cl_int Error = gNext.clFinish(Queue);
    if (Result == CL_SUCCESS)
      Result = Error;
    gNext.clReleaseCommandQueue(Queue);
  }
  return Result;
}

// Keeps what the layer needs to know of a new context. A context the layer cannot describe is
// released and its creation fails: the layer would otherwise treat it as a driver's own.
static cl_context recordContext(cl_context Context, cl_int *ErrcodeRet) {
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
  std::lock_guard<std::mutex> Guard(State.Lock);
  State.Contexts[Context] = std::move(Record);
  return Context;
}

static cl_context CL_API_CALL hookCreateContext(const cl_context_properties *Properties,
                                                cl_uint NumDevices, const cl_device_id *Devices,
                                                void(CL_CALLBACK *Notify)(const char *,
                                                                          const void *, size_t,
                                                                          void *),
                                                void *UserData, cl_int *ErrcodeRet) {
  return recordContext(
      gNext.clCreateContext(Properties, NumDevices, Devices, Notify, UserData, ErrcodeRet),
      ErrcodeRet);
}

static cl_context CL_API_CALL hookCreateContextFromType(
    const cl_context_properties *Properties, cl_device_type Type,
    void(CL_CALLBACK *Notify)(const char *, const void *, size_t, void *), void *UserData,
    cl_int *ErrcodeRet) {
  return recordContext(
      gNext.clCreateContextFromType(Properties, Type, Notify, UserData, ErrcodeRet), ErrcodeRet);
}

// Counts a successful retain of a handle the layer keeps a record of.
template <typename Records, typename Handle>
static cl_int countRetain(cl_int Result, Records LayerState::*Member, Handle Object) {
  if (Result == CL_SUCCESS) {
    LayerState &State = layerState();
    std::lock_guard<std::mutex> Guard(State.Lock);
    auto It = (State.*Member).find(Object);
    if (It != (State.*Member).end())
      ++It->second.RefCount;
  }
  return Result;
}

static cl_int CL_API_CALL hookRetainContext(cl_context Context) {
  return countRetain(gNext.clRetainContext(Context), &LayerState::Contexts, Context);
}

// What the layer keeps for a context goes with the application's last reference to it.
static cl_int CL_API_CALL hookReleaseContext(cl_context Context) {
  LayerState &State = layerState();
  bool Gone = false;
  {
    std::lock_guard<std::mutex> Guard(State.Lock);
    auto It = State.Contexts.find(Context);
    if (It != State.Contexts.end() && --It->second.RefCount == 0) {
      Gone = It->second.Served;
      State.Contexts.erase(It);
    }
  }
  if (Gone)
    contextReleased(Context);
  return gNext.clReleaseContext(Context);
}

static void recordQueue(cl_command_queue Queue, cl_context Context, cl_device_id Device) {
  LayerState &State = layerState();
  std::lock_guard<std::mutex> Guard(State.Lock);
  QueueRecord Record;
  Record.Context = Context;
  Record.Device = Device;
  State.Queues[Queue] = Record;
}

static cl_command_queue CL_API_CALL hookCreateCommandQueueWithProperties(
    cl_context Context, cl_device_id Device, const cl_queue_properties *Properties,
    cl_int *ErrcodeRet) {
  cl_command_queue Queue =
      gNext.clCreateCommandQueueWithProperties(Context, Device, Properties, ErrcodeRet);
  if (Queue)
    recordQueue(Queue, Context, Device);
  return Queue;
}

static cl_command_queue CL_API_CALL hookCreateCommandQueue(cl_context Context,
                                                           cl_device_id Device,
                                                           cl_command_queue_properties Properties,
                                                           cl_int *ErrcodeRet) {
  cl_command_queue Queue = gNext.clCreateCommandQueue(Context, Device, Properties, ErrcodeRet);
  if (Queue)
    recordQueue(Queue, Context, Device);
  return Queue;
}

static cl_int CL_API_CALL hookRetainCommandQueue(cl_command_queue Queue) {
  return countRetain(gNext.clRetainCommandQueue(Queue), &LayerState::Queues, Queue);
}

// The record goes before the driver's queue may: another thread retaining the context's queues
// for a blocking free must not find, and retain, a queue the driver has just destroyed.
static cl_int CL_API_CALL hookReleaseCommandQueue(cl_command_queue Queue) {
  LayerState &State = layerState();
  std::optional<QueueRecord> Erased;
  bool Counted = false;
  {
    std::lock_guard<std::mutex> Guard(State.Lock);
    auto It = State.Queues.find(Queue);
    if (It != State.Queues.end()) {
      Counted = true;
      if (--It->second.RefCount == 0) {
        Erased = It->second;
        State.Queues.erase(It);
      }
    }
  }
  cl_int Result = gNext.clReleaseCommandQueue(Queue);
  if (Result != CL_SUCCESS && Counted) {
    // Nothing was released: the record stands as it was.
    std::lock_guard<std::mutex> Guard(State.Lock);
    if (Erased) {
      Erased->RefCount = 1;
      State.Queues[Queue] = *Erased;
    } else if (auto It = State.Queues.find(Queue); It != State.Queues.end()) {
      ++It->second.RefCount;
    }
  }
  return Result;
}

void installTrackingHooks(cl_icd_dispatch &Table) {
  Table.clCreateContext = hookCreateContext;
  Table.clCreateContextFromType = hookCreateContextFromType;
  Table.clRetainContext = hookRetainContext;
  Table.clReleaseContext = hookReleaseContext;
  Table.clCreateCommandQueueWithProperties = hookCreateCommandQueueWithProperties;
  Table.clCreateCommandQueue = hookCreateCommandQueue;
  Table.clRetainCommandQueue = hookRetainCommandQueue;
  Table.clReleaseCommandQueue = hookReleaseCommandQueue;
}
