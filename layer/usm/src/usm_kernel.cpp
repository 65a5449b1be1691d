// Kernel-side parts of the shared-memory extension: pointer arguments, indirect access and the
// suggested work-group size.
#include "usm_state.h"
#include "vendor_usm.h"

#include <algorithm>

namespace {

unsigned kindBit(AllocKind Kind) {
  switch (Kind) {
  case AllocKind::Host:
    return 1;
  case AllocKind::Shared:
    return 4;
  case AllocKind::Device:
    break;
  }
  return 2;
}

// The bases of a context's allocations of the kinds in Kinds, rebuilt only when allocations
// changed since the last time; the caller holds the lock.
const std::vector<void *> &contextPointers(UsmState &State, cl_context Context,
                                           unsigned Kinds) {
  PointerListCache &Cache = State.PointerLists[{Context, Kinds}];
  if (Cache.Generation == State.AllocationGeneration)
    return Cache.Bases;
  Cache.Bases.clear();
  for (auto &[User, Allocation] : State.Allocations)
    if (Allocation.Context == Context && (kindBit(Allocation.Kind) & Kinds))
      Cache.Bases.push_back(Allocation.Base);
  std::sort(Cache.Bases.begin(), Cache.Bases.end());
  Cache.Generation = State.AllocationGeneration;
  return Cache.Bases;
}

// The SVM pointer list the driver needs: the caller's own SVM pointers, the named pointers (as
// allocation bases where known) and every live allocation of the kinds the kernel may reach
// indirectly. The caller holds the lock.
std::vector<void *> svmPointerList(UsmState &State, const KernelRecord &Record) {
  std::vector<void *> List = Record.CallerPointers;
  for (void *Ptr : Record.IndirectPointers) {
    auto *Found = findAllocation(State, Ptr);
    List.push_back(Found ? Found->second.Base : Ptr);
  }
  std::sort(List.begin(), List.end());
  unsigned Kinds = (Record.IndirectHost ? 1 : 0) | (Record.IndirectDevice ? 2 : 0) |
                   (Record.IndirectShared ? 4 : 0);
  if (Kinds) {
    const std::vector<void *> &Bases = contextPointers(State, Record.Context, Kinds);
    size_t Named = List.size();
    List.insert(List.end(), Bases.begin(), Bases.end());
    std::inplace_merge(List.begin(), List.begin() + Named, List.end());
  }
  List.erase(std::unique(List.begin(), List.end()), List.end());
  return List;
}

cl_int pushIndirectPointers(cl_kernel Kernel) {
  std::vector<void *> List;
  {
    std::lock_guard<std::mutex> Guard(layerState().Lock);
    UsmState &State = usmState();
    auto It = State.Kernels.find(Kernel);
    if (It == State.Kernels.end())
      return CL_SUCCESS;
    KernelRecord &Record = It->second;
    if (Record.ListSent && Record.SentGeneration == State.AllocationGeneration)
      return CL_SUCCESS;
    List = svmPointerList(State, Record);
    Record.ListSent = true;
    Record.SentGeneration = State.AllocationGeneration;
  }
  if (List.empty())
    return CL_SUCCESS;
  cl_int Error = gNext.clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS,
                                           List.size() * sizeof(void *), List.data());
  if (Error != CL_SUCCESS) {
    std::lock_guard<std::mutex> Guard(layerState().Lock);
    UsmState &State = usmState();
    if (auto It = State.Kernels.find(Kernel); It != State.Kernels.end())
      It->second.ListSent = false;
  }
  return Error;
}

// The indirect-access settings are recorded here and reach the driver, as one pointer list, at
// the next enqueue.
cl_int CL_API_CALL hookSetKernelExecInfo(cl_kernel Kernel, cl_kernel_exec_info Param,
                                         size_t Size, const void *Value) {
  bool IndirectFlag = Param == kExecInfoIndirectHost || Param == kExecInfoIndirectDevice ||
                      Param == kExecInfoIndirectShared;
  bool PointerList = Param == kExecInfoUsmPtrs || Param == CL_KERNEL_EXEC_INFO_SVM_PTRS;
  if (!IndirectFlag && !PointerList)
    return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value);
  {
    std::lock_guard<std::mutex> Guard(layerState().Lock);
    UsmState &State = usmState();
    auto It = State.Kernels.find(Kernel);
    if (!Kernel || It == State.Kernels.end())
      return CL_INVALID_KERNEL;
    KernelRecord &Record = It->second;
    auto Context = layerState().Contexts.find(Record.Context);
    if (Context != layerState().Contexts.end() && Context->second.Served) {
      if (IndirectFlag ? (Size != sizeof(cl_bool) || !Value)
                       : (Size % sizeof(void *) != 0 || (Size != 0 && !Value)))
        return CL_INVALID_VALUE;
      // A runtime repeats the same settings before every launch: what equals the recorded
      // setting keeps the list already sent, so an unchanged launch costs one comparison.
      if (PointerList) {
        std::vector<void *> &Kept = Param == kExecInfoUsmPtrs ? Record.IndirectPointers
                                                              : Record.CallerPointers;
        auto First = static_cast<void *const *>(Value);
        auto Last = First + Size / sizeof(void *);
        if (std::equal(First, Last, Kept.begin(), Kept.end()))
          return CL_SUCCESS;
        Kept.assign(First, Last);
      } else {
        bool On = *static_cast<const cl_bool *>(Value) != CL_FALSE;
        bool &Setting = Param == kExecInfoIndirectHost     ? Record.IndirectHost
                        : Param == kExecInfoIndirectDevice ? Record.IndirectDevice
                                                           : Record.IndirectShared;
        if (Setting == On)
          return CL_SUCCESS;
        Setting = On;
      }
      Record.ListSent = false;
      return CL_SUCCESS;
    }
  }
  return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value); // the driver's own extension
}

cl_int CL_API_CALL hookEnqueueNDRangeKernel(cl_command_queue Queue, cl_kernel Kernel,
                                            cl_uint WorkDim, const size_t *GlobalOffset,
                                            const size_t *GlobalSize, const size_t *LocalSize,
                                            cl_uint NumEvents, const cl_event *WaitList,
                                            cl_event *Event) {
  // Allocations made since the last launch must reach the driver too.
  if (Kernel) {
    cl_int Error = pushIndirectPointers(Kernel);
    if (Error != CL_SUCCESS)
      return Error;
  }
  return gNext.clEnqueueNDRangeKernel(Queue, Kernel, WorkDim, GlobalOffset, GlobalSize,
                                      LocalSize, NumEvents, WaitList, Event);
}

// Kernels are tracked from creation to their last release: their settings are the layer's.
cl_int trackKernel(cl_kernel Kernel, const KernelRecord *Template) {
  KernelRecord Record = Template ? *Template : KernelRecord();
  Record.RefCount = 1;
  Record.ListSent = false;
  cl_int Error = gNext.clGetKernelInfo(Kernel, CL_KERNEL_CONTEXT, sizeof(Record.Context),
                                       &Record.Context, nullptr);
  if (Error != CL_SUCCESS) {
    gNext.clReleaseKernel(Kernel);
    return Error;
  }
  std::lock_guard<std::mutex> Guard(layerState().Lock);
  usmState().Kernels[Kernel] = std::move(Record);
  return CL_SUCCESS;
}

cl_kernel failKernel(cl_int Error, cl_int *ErrcodeRet) {
  if (ErrcodeRet)
    *ErrcodeRet = Error;
  return nullptr;
}

cl_kernel CL_API_CALL hookCreateKernel(cl_program Program, const char *Name,
                                       cl_int *ErrcodeRet) {
  cl_kernel Kernel = gNext.clCreateKernel(Program, Name, ErrcodeRet);
  cl_int Error = CL_SUCCESS;
  if (Kernel && (Error = trackKernel(Kernel, nullptr)) != CL_SUCCESS)
    return failKernel(Error, ErrcodeRet);
  return Kernel;
}

cl_int CL_API_CALL hookReleaseKernel(cl_kernel Kernel) {
  {
    std::lock_guard<std::mutex> Guard(layerState().Lock);
    UsmState &State = usmState();
    auto It = State.Kernels.find(Kernel);
    if (It != State.Kernels.end() && --It->second.RefCount == 0)
      State.Kernels.erase(It);
  }
  return gNext.clReleaseKernel(Kernel);
}

cl_int CL_API_CALL hookCreateKernelsInProgram(cl_program Program, cl_uint NumKernels,
                                              cl_kernel *Kernels, cl_uint *NumKernelsRet) {
  cl_uint Created = 0;
  cl_int Error = gNext.clCreateKernelsInProgram(Program, NumKernels, Kernels, &Created);
  if (Error != CL_SUCCESS)
    return Error;
  // All kernels or none: those already tracked are released again when one fails.
  for (cl_uint I = 0; Kernels && I < Created; ++I)
    if ((Error = trackKernel(Kernels[I], nullptr)) != CL_SUCCESS) {
      for (cl_uint J = 0; J < I; ++J)
        hookReleaseKernel(Kernels[J]);
      for (cl_uint J = I + 1; J < Created; ++J)
        gNext.clReleaseKernel(Kernels[J]);
      return Error;
    }
  if (NumKernelsRet)
    *NumKernelsRet = Created;
  return CL_SUCCESS;
}

cl_kernel CL_API_CALL hookCloneKernel(cl_kernel Source, cl_int *ErrcodeRet) {
  cl_kernel Clone = gNext.clCloneKernel(Source, ErrcodeRet);
  if (!Clone)
    return nullptr;
  KernelRecord Template;
  bool Known = false;
  {
    std::lock_guard<std::mutex> Guard(layerState().Lock);
    auto It = usmState().Kernels.find(Source);
    if ((Known = It != usmState().Kernels.end()))
      Template = It->second;
  }
  cl_int Error = trackKernel(Clone, Known ? &Template : nullptr);
  return Error == CL_SUCCESS ? Clone : failKernel(Error, ErrcodeRet);
}

cl_int CL_API_CALL hookRetainKernel(cl_kernel Kernel) {
  cl_int Error = gNext.clRetainKernel(Kernel);
  if (Error == CL_SUCCESS) {
    std::lock_guard<std::mutex> Guard(layerState().Lock);
    auto It = usmState().Kernels.find(Kernel);
    if (It != usmState().Kernels.end())
      ++It->second.RefCount;
  }
  return Error;
}

} // namespace

extern "C" cl_int CL_API_CALL layerSetKernelArgMemPointer(cl_kernel kernel, cl_uint arg_index,
                                                          const void *arg_value) {
  if (!kernel || !kernelKnown(kernel))
    return CL_INVALID_KERNEL;
  return gNext.clSetKernelArgSVMPointer(kernel, arg_index, arg_value);
}

// Largest divisor of Value that is at most Limit (at least 1).
static size_t largestDivisorUpTo(size_t Value, size_t Limit) {
  for (size_t D = std::min(Value, Limit); D > 1; --D)
    if (Value % D == 0)
      return D;
  return 1;
}

extern "C" cl_int CL_API_CALL layerGetKernelSuggestedLocalWorkSize(
    cl_command_queue queue, cl_kernel kernel, cl_uint work_dim, const size_t *global_work_offset,
    const size_t *global_work_size, size_t *suggested_local_work_size) {
  (void)global_work_offset;
  if (!queue || !queueKnown(queue))
    return CL_INVALID_COMMAND_QUEUE;
  if (!kernel || !kernelKnown(kernel))
    return CL_INVALID_KERNEL;
  if (work_dim < 1 || work_dim > 3)
    return CL_INVALID_WORK_DIMENSION;
  if (!global_work_size || !suggested_local_work_size)
    return CL_INVALID_VALUE;
  for (cl_uint D = 0; D < work_dim; ++D)
    if (global_work_size[D] == 0)
      return CL_INVALID_GLOBAL_WORK_SIZE;
  cl_device_id Device = nullptr;
  cl_int Error =
      gNext.clGetCommandQueueInfo(queue, CL_QUEUE_DEVICE, sizeof(Device), &Device, nullptr);
  if (Error != CL_SUCCESS)
    return Error;
  size_t Required[3] = {0, 0, 0};
  Error = gNext.clGetKernelWorkGroupInfo(kernel, Device, CL_KERNEL_COMPILE_WORK_GROUP_SIZE,
                                         sizeof(Required), Required, nullptr);
  if (Error != CL_SUCCESS)
    return Error;
  if (Required[0] != 0) {
    std::copy(Required, Required + work_dim, suggested_local_work_size);
    return CL_SUCCESS;
  }
  size_t KernelLimit = 0;
  Error = gNext.clGetKernelWorkGroupInfo(kernel, Device, CL_KERNEL_WORK_GROUP_SIZE,
                                         sizeof(KernelLimit), &KernelLimit, nullptr);
  if (Error != CL_SUCCESS)
    return Error;
  size_t ItemLimits[3] = {KernelLimit, KernelLimit, KernelLimit};
  gNext.clGetDeviceInfo(Device, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof(ItemLimits), ItemLimits,
                        nullptr);
  // Uniform work-groups only: each local size divides its global size.
  size_t Remaining = std::max<size_t>(KernelLimit, 1);
  for (cl_uint D = 0; D < work_dim; ++D) {
    size_t Local = largestDivisorUpTo(global_work_size[D], std::min(Remaining, ItemLimits[D]));
    suggested_local_work_size[D] = Local;
    Remaining /= Local;
  }
  return CL_SUCCESS;
}

void installUsmKernelHooks(cl_icd_dispatch &Table) {
  Table.clCreateKernel = hookCreateKernel;
  Table.clCreateKernelsInProgram = hookCreateKernelsInProgram;
  Table.clCloneKernel = hookCloneKernel;
  Table.clRetainKernel = hookRetainKernel;
  Table.clReleaseKernel = hookReleaseKernel;
  Table.clSetKernelExecInfo = hookSetKernelExecInfo;
  Table.clEnqueueNDRangeKernel = hookEnqueueNDRangeKernel;
}
