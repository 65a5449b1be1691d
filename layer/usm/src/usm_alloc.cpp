// Allocation, release and pointer queries of the shared-memory extension, on buffer SVM.
#include "driver_quirks.h"
#include "info_answer.h"
#include "usm_state.h"
#include "vendor_usm.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace {

using SharedLock = std::shared_lock<std::shared_mutex>;
using ExclusiveLock = std::lock_guard<std::shared_mutex>;

// Larger alignments are refused: each would cost its size again in over-allocation.
constexpr cl_uint kLargestAlignment = 1u << 16;

struct AllocRequest {
  cl_context Context;
  cl_device_id Device;
  AllocKind Kind;
  const cl_mem_properties_tarno *Properties;
  size_t Size;
  cl_uint Alignment;
};

cl_int readProperties(const cl_mem_properties_tarno *Properties, bool &AllowLarge) {
  AllowLarge = false;
  for (const cl_mem_properties_tarno *P = Properties; P && *P != 0; P += 2) {
    if (P[0] != kAllocPropertyFlags)
      return CL_INVALID_PROPERTY;
    if (P[1] & kAllocFlagAllowLarge)
      AllowLarge = true;
  }
  return CL_SUCCESS;
}

void *allocate(const AllocRequest &Request, cl_int &Error) {
  struct {
    bool Served, FineGrainBuffers;
    cl_ulong MaxAllocSize;
    std::vector<cl_device_id> Devices;
  } Context;
  {
    LayerState &State = layerState();
    SharedLock Guard(State.Lock);
    auto It = State.Contexts.find(Request.Context);
    if (It == State.Contexts.end()) {
      Error = CL_INVALID_CONTEXT;
      return nullptr;
    }
    Context = {It->second.Served, It->second.FineGrainBuffers, It->second.MaxAllocSize,
               It->second.Devices};
  }
  // Host and shared memory must be usable by the host without mapping: only fine-grained
  // buffers are.
  if (!Context.Served || (Request.Kind != AllocKind::Device && !Context.FineGrainBuffers)) {
    Error = CL_INVALID_OPERATION;
    return nullptr;
  }
  bool DeviceRequired = Request.Kind == AllocKind::Device;
  if ((DeviceRequired && !Request.Device) ||
      (Request.Device && std::find(Context.Devices.begin(), Context.Devices.end(),
                                   Request.Device) == Context.Devices.end())) {
    Error = CL_INVALID_DEVICE;
    return nullptr;
  }
  bool AllowLarge = false;
  if ((Error = readProperties(Request.Properties, AllowLarge)) != CL_SUCCESS)
    return nullptr;
  cl_uint Align = Request.Alignment;
  if ((Align & (Align - 1)) || Align > kLargestAlignment) {
    Error = CL_INVALID_VALUE;
    return nullptr;
  }
  if (Request.Size == 0 || (Request.Size > Context.MaxAllocSize && !AllowLarge) ||
      Request.Size > SIZE_MAX - Align) {
    Error = CL_INVALID_BUFFER_SIZE;
    return nullptr;
  }
  cl_svm_mem_flags Flags = CL_MEM_READ_WRITE;
  if (Request.Kind != AllocKind::Device)
    Flags |= CL_MEM_SVM_FINE_GRAIN_BUFFER;

  bool OverAlign = Align > kLargestDriverAlignment;
  size_t DriverSize = OverAlign ? Request.Size + Align - 1 : Request.Size;
  void *Base = gNext.clSVMAlloc(Request.Context, Flags, DriverSize, OverAlign ? 0 : Align);
  if (!Base) {
    Error = CL_OUT_OF_RESOURCES;
    return nullptr;
  }
  void *User = Base;
  if (OverAlign) {
    auto Address = reinterpret_cast<uintptr_t>(Base);
    User = reinterpret_cast<void *>((Address + Align - 1) & ~uintptr_t(Align - 1));
  }
  AllocationRecord Record;
  Record.Base = Base;
  Record.Size = Request.Size;
  Record.Kind = Request.Kind;
  Record.Context = Request.Context;
  Record.Device = Request.Device;
  ExclusiveLock Guard(layerState().Lock);
  addAllocation(usmState(), User, Record);
  Error = CL_SUCCESS;
  return User;
}

void *allocateReporting(const AllocRequest &Request, cl_int *ErrcodeRet) {
  cl_int Error = CL_SUCCESS;
  void *Ptr = allocate(Request, Error);
  if (ErrcodeRet)
    *ErrcodeRet = Error;
  return Ptr;
}

bool contextKnown(cl_context Context) {
  LayerState &State = layerState();
  SharedLock Guard(State.Lock);
  return State.Contexts.count(Context) != 0;
}

// Removes the record of an allocation that a caller may free (only checks it, when Take is
// false); gives its driver base pointer.
cl_int takeFreeable(cl_context Context, void *Ptr, void *&Base, bool Take = true) {
  ExclusiveLock Guard(layerState().Lock);
  if (!layerState().Contexts.count(Context))
    return CL_INVALID_CONTEXT;
  UsmState &State = usmState();
  auto It = State.Allocations.find(Ptr);
  if (It == State.Allocations.end() || It->second.Context != Context)
    return CL_INVALID_VALUE;
  Base = It->second.Base;
  if (Take)
    eraseAllocation(State, Ptr);
  return CL_SUCCESS;
}

cl_uint memoryType(AllocKind Kind) {
  switch (Kind) {
  case AllocKind::Host:
    return kMemTypeHost;
  case AllocKind::Shared:
    return kMemTypeShared;
  case AllocKind::Device:
    break;
  }
  return kMemTypeDevice;
}

} // namespace

extern "C" {

void *CL_API_CALL layerHostMemAlloc(cl_context context, const cl_mem_properties_tarno *properties,
                                    size_t size, cl_uint alignment, cl_int *errcode_ret) {
  return allocateReporting({context, nullptr, AllocKind::Host, properties, size, alignment},
                           errcode_ret);
}

void *CL_API_CALL layerDeviceMemAlloc(cl_context context, cl_device_id device,
                                      const cl_mem_properties_tarno *properties, size_t size,
                                      cl_uint alignment, cl_int *errcode_ret) {
  return allocateReporting({context, device, AllocKind::Device, properties, size, alignment},
                           errcode_ret);
}

void *CL_API_CALL layerSharedMemAlloc(cl_context context, cl_device_id device,
                                      const cl_mem_properties_tarno *properties, size_t size,
                                      cl_uint alignment, cl_int *errcode_ret) {
  return allocateReporting({context, device, AllocKind::Shared, properties, size, alignment},
                           errcode_ret);
}

cl_int CL_API_CALL layerMemFree(cl_context context, void *ptr) {
  if (!ptr)
    return contextKnown(context) ? CL_SUCCESS : CL_INVALID_CONTEXT;
  void *Base = nullptr;
  cl_int Error = takeFreeable(context, ptr, Base);
  if (Error == CL_SUCCESS)
    gNext.clSVMFree(context, Base);
  return Error;
}

cl_int CL_API_CALL layerMemBlockingFree(cl_context context, void *ptr) {
  if (!ptr)
    return contextKnown(context) ? CL_SUCCESS : CL_INVALID_CONTEXT;
  void *Base = nullptr;
  cl_int Error = takeFreeable(context, ptr, Base, false);
  if (Error != CL_SUCCESS)
    return Error;
  // Commands already queued in this context may still use the memory: when waiting for them
  // fails, it stays allocated and the caller may try again.
  if ((Error = finishContextQueues(context)) != CL_SUCCESS)
    return Error;
  if ((Error = takeFreeable(context, ptr, Base)) == CL_SUCCESS)
    gNext.clSVMFree(context, Base);
  return Error;
}

cl_int CL_API_CALL layerGetMemAllocInfo(cl_context context, const void *ptr, cl_uint param_name,
                                        size_t param_value_size, void *param_value,
                                        size_t *param_value_size_ret) {
  AllocationRecord Found;
  const void *Start = nullptr;
  {
    SharedLock Guard(layerState().Lock);
    if (!layerState().Contexts.count(context))
      return CL_INVALID_CONTEXT;
    auto *Entry = ptr ? findAllocation(usmState(), ptr) : nullptr;
    if (Entry && Entry->second.Context == context) {
      Start = Entry->first;
      Found = Entry->second;
    }
  }
  switch (param_name) {
  case kMemAllocTypeQuery:
    return answerValue(param_value_size, param_value, param_value_size_ret,
                       Start ? memoryType(Found.Kind) : kMemTypeUnknown);
  case kMemAllocBaseQuery:
    return answerValue(param_value_size, param_value, param_value_size_ret, Start);
  case kMemAllocSizeQuery:
    return answerValue(param_value_size, param_value, param_value_size_ret,
                       Start ? Found.Size : size_t(0));
  case kMemAllocDeviceQuery:
    return answerValue(param_value_size, param_value, param_value_size_ret, Found.Device);
  default:
    return CL_INVALID_VALUE;
  }
}

} // extern "C"
