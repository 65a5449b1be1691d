// Kernel-side parts of the shared-memory extension: pointer arguments, indirect access and the
// suggested work-group size.
#include "kernel_hooks.h"
#include "layer_state.h"
#include "vendor_usm.h"

#include <algorithm>

namespace {

bool kernelContextEmulatesUsm(cl_kernel Kernel, cl_context &Context) {
  if (gNext.clGetKernelInfo(Kernel, CL_KERNEL_CONTEXT, sizeof(Context), &Context, nullptr) !=
      CL_SUCCESS)
    return false;
  LayerState &State = layerState();
  std::lock_guard<std::mutex> Guard(State.Lock);
  auto It = State.Contexts.find(Context);
  return It != State.Contexts.end() && It->second.EmulatesUsm;
}

bool kindSelected(const KernelRecord &Kernel, AllocKind Kind) {
  switch (Kind) {
  case AllocKind::Host:
    return Kernel.IndirectHost;
  case AllocKind::Shared:
    return Kernel.IndirectShared;
  case AllocKind::Device:
  case AllocKind::ProgramGlobals:
    return Kernel.IndirectDevice;
  }
  return false;
}

// The SVM pointer list the driver needs: the named pointers (as allocation bases where known)
// and every live allocation of the kinds the kernel may reach indirectly.
std::vector<void *> svmPointerList(cl_kernel Kernel, bool &Wanted) {
  LayerState &State = layerState();
  std::lock_guard<std::mutex> Guard(State.Lock);
  std::vector<void *> List;
  auto It = State.Kernels.find(Kernel);
  if (It == State.Kernels.end()) {
    Wanted = false;
    return List;
  }
  const KernelRecord &Record = It->second;
  Wanted = !Record.IndirectPointers.empty() || Record.IndirectHost || Record.IndirectDevice ||
           Record.IndirectShared;
  for (void *Ptr : Record.IndirectPointers) {
    auto *Found = findAllocation(State, Ptr);
    List.push_back(Found ? Found->second.Base : Ptr);
  }
  for (auto &[User, Allocation] : State.Allocations)
    if (Allocation.Context == Record.Context && kindSelected(Record, Allocation.Kind))
      List.push_back(Allocation.Base);
  std::sort(List.begin(), List.end());
  List.erase(std::unique(List.begin(), List.end()), List.end());
  return List;
}

} // namespace

cl_int pushIndirectPointers(cl_kernel Kernel) {
  bool Wanted = false;
  std::vector<void *> List = svmPointerList(Kernel, Wanted);
  if (!Wanted || List.empty())
    return CL_SUCCESS;
  return gNext.clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS,
                                   List.size() * sizeof(void *), List.data());
}

cl_int CL_API_CALL hookSetKernelExecInfo(cl_kernel Kernel, cl_kernel_exec_info Param,
                                         size_t Size, const void *Value) {
  bool IndirectFlag = Param == kExecInfoIndirectHost || Param == kExecInfoIndirectDevice ||
                      Param == kExecInfoIndirectShared;
  if (!IndirectFlag && Param != kExecInfoUsmPtrs)
    return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value);
  if (!Kernel)
    return CL_INVALID_KERNEL;
  cl_context Context = nullptr;
  if (!kernelContextEmulatesUsm(Kernel, Context))
    return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value);
  if (IndirectFlag ? (Size != sizeof(cl_bool) || !Value)
                   : (Size % sizeof(void *) != 0 || (Size != 0 && !Value)))
    return CL_INVALID_VALUE;
  {
    LayerState &State = layerState();
    std::lock_guard<std::mutex> Guard(State.Lock);
    KernelRecord &Record = State.Kernels[Kernel];
    Record.Context = Context;
    if (Param == kExecInfoUsmPtrs) {
      auto First = static_cast<void *const *>(Value);
      Record.IndirectPointers.assign(First, First + Size / sizeof(void *));
    } else {
      bool On = *static_cast<const cl_bool *>(Value) != CL_FALSE;
      (Param == kExecInfoIndirectHost     ? Record.IndirectHost
       : Param == kExecInfoIndirectDevice ? Record.IndirectDevice
                                          : Record.IndirectShared) = On;
    }
  }
  return pushIndirectPointers(Kernel);
}

cl_int CL_API_CALL hookEnqueueNDRangeKernel(cl_command_queue Queue, cl_kernel Kernel,
                                            cl_uint WorkDim, const size_t *GlobalOffset,
                                            const size_t *GlobalSize, const size_t *LocalSize,
                                            cl_uint NumEvents, const cl_event *WaitList,
                                            cl_event *Event) {
  // Allocations made since the exec info was set must reach the driver too.
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
