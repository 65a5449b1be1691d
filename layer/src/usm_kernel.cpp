// Kernel-side parts of the shared-memory extension: pointer arguments, indirect access and the
// suggested work-group size.
#include "kernel_hooks.h"
#include "layer_state.h"
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
  case AllocKind::ProgramGlobals:
    break;
  }
  return 2;
}

// The bases of a context's allocations of the kinds in Kinds, rebuilt only when allocations
// changed since the last time; the caller holds the lock.
const std::vector<void *> &contextPointers(LayerState &State, cl_context Context,
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

// The SVM pointer list the driver needs: the kernel's program variables, the named pointers (as
// allocation bases where known) and every live allocation of the kinds the kernel may reach
// indirectly. The caller holds the lock.
std::vector<void *> svmPointerList(LayerState &State, const KernelRecord &Record) {
  std::vector<void *> List;
  for (void *Ptr : Record.IndirectPointers) {
    auto *Found = findAllocation(State, Ptr);
    List.push_back(Found ? Found->second.Base : Ptr);
  }
  if (Record.GlobalsBlock)
    List.push_back(Record.GlobalsBlock);
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

} // namespace

cl_int pushIndirectPointers(cl_kernel Kernel) {
  std::vector<void *> List;
  {
    LayerState &State = layerState();
    std::lock_guard<std::mutex> Guard(State.Lock);
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
    LayerState &State = layerState();
    std::lock_guard<std::mutex> Guard(State.Lock);
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
  if (!IndirectFlag && Param != kExecInfoUsmPtrs)
    return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value);
  {
    LayerState &State = layerState();
    std::lock_guard<std::mutex> Guard(State.Lock);
    auto It = State.Kernels.find(Kernel);
    if (!Kernel || It == State.Kernels.end())
      return CL_INVALID_KERNEL;
    KernelRecord &Record = It->second;
    auto Context = State.Contexts.find(Record.Context);
    if (Context != State.Contexts.end() && Context->second.EmulatesUsm) {
      if (IndirectFlag ? (Size != sizeof(cl_bool) || !Value)
                       : (Size % sizeof(void *) != 0 || (Size != 0 && !Value)))
        return CL_INVALID_VALUE;
      // A runtime repeats the same settings before every launch: what equals the recorded
      // setting keeps the list already sent, so an unchanged launch costs one comparison.
      if (Param == kExecInfoUsmPtrs) {
        auto First = static_cast<void *const *>(Value);
        auto Last = First + Size / sizeof(void *);
        if (std::equal(First, Last, Record.IndirectPointers.begin(), Record.IndirectPointers.end()))
          return CL_SUCCESS;
        Record.IndirectPointers.assign(First, Last);
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

extern "C" cl_int CL_API_CALL layerSetKernelArgMemPointer(cl_kernel kernel, cl_uint arg_index,
                                                          const void *arg_value) {
  if (!kernel || !kernelKnown(kernel))
    return CL_INVALID_KERNEL;
  return hookSetKernelArgSVMPointer(kernel, arg_index, arg_value);
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
