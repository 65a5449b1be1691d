// Kernel-side parts of the shared-memory extension: kernels tracked as children of their
// context, indirect access, pointer arguments and the suggested work-group size.
#include "exception_barrier.h"
#include "kernel_set_up.h"
#include "usm_state.h"
#include "vendor_usm.h"

#include <algorithm>
#include <mutex>

namespace {

using SharedLock = std::shared_lock<std::shared_mutex>;
using ExclusiveLock = std::lock_guard<std::shared_mutex>;

// The bases of a context's allocations of the kinds in Kinds: one kind's sorted set as it is,
// several merged once per allocation generation. The caller holds the lock exclusively when
// Kinds has several bits.
const std::vector<void *> &contextPointers(ContextAllocations &Context, unsigned Kinds) {
  for (unsigned Kind = 0; Kind < kAllocKinds; ++Kind)
    if (Kinds == 1u << Kind)
      return Context.Bases[Kind];
  ContextAllocations::MergedList &Cache = Context.Merged[Kinds];
  if (Cache.Generation == Context.Generation)
    return Cache.Bases;
  Cache.Bases.clear();
  for (unsigned Kind = 0; Kind < kAllocKinds; ++Kind)
    if (Kinds & (1u << Kind)) {
      size_t Before = Cache.Bases.size();
      Cache.Bases.insert(Cache.Bases.end(), Context.Bases[Kind].begin(), Context.Bases[Kind].end());
      std::inplace_merge(Cache.Bases.begin(), Cache.Bases.begin() + Before, Cache.Bases.end());
    }
  Cache.Generation = Context.Generation;
  return Cache.Bases;
}

uint64_t contextGeneration(UsmState &State, cl_context Context) {
  auto It = State.PerContext.find(Context);
  return It == State.PerContext.end() ? 0 : It->second.Generation;
}

// The SVM pointer list the driver needs: the caller's own SVM pointers, the named pointers (as
// allocation bases where known) and every live allocation of the kinds the kernel may reach
// indirectly. The caller holds the lock exclusively.
// The caller's list comes first and as it was given, so that a plain program's list reaches the
// driver unchanged; the layer's own pointers follow, sorted, without repeating any.
std::vector<void *> svmPointerList(UsmState &State, const KernelRecord &Record) {
  std::vector<void *> Own;
  for (void *Ptr : Record.IndirectPointers) {
    auto *Found = findAllocation(State, Ptr);
    Own.push_back(Found ? Found->second.Base : Ptr);
  }
  std::sort(Own.begin(), Own.end());
  if (Record.IndirectKinds) {
    const std::vector<void *> &Bases =
        contextPointers(State.PerContext[Record.Context], Record.IndirectKinds);
    size_t Named = Own.size();
    Own.insert(Own.end(), Bases.begin(), Bases.end());
    std::inplace_merge(Own.begin(), Own.begin() + Named, Own.end());
  }
  Own.erase(std::unique(Own.begin(), Own.end()), Own.end());
  if (Record.CallerPointers.empty())
    return Own;
  std::vector<void *> List = Record.CallerPointers;
  std::vector<void *> Given = Record.CallerPointers;
  std::sort(Given.begin(), Given.end());
  for (void *Ptr : Own)
    if (!std::binary_search(Given.begin(), Given.end(), Ptr))
      List.push_back(Ptr);
  return List;
}

// The one sorted set a kernel's list is when it reaches one kind of allocation and nothing else
// (null when the context has none yet); the caller holds the lock.
const std::vector<void *> *singleKindList(UsmState &State, const KernelRecord &Record) {
  static const std::vector<void *> *const None = new std::vector<void *>();
  auto Context = State.PerContext.find(Record.Context);
  for (unsigned Kind = 0; Kind < kAllocKinds; ++Kind)
    if (Record.IndirectKinds == 1u << Kind)
      return Context == State.PerContext.end() ? None : &Context->second.Bases[Kind];
  return Record.IndirectKinds == 0 ? None : nullptr;
}

// Sends the kernel's list when allocations or its settings changed since the last one. An
// unchanged launch costs a shared lock and two comparisons; another context's allocations never
// count. A list that is one context's set of one kind goes to the driver as it is, under the
// shared lock (the call neither waits nor calls back); others are built under the exclusive one.
// An empty list is sent only to clear one sent before.
cl_int pushIndirectPointers(cl_kernel Kernel) {
  LayerState &Layer = layerState();
  UsmState &State = usmState();
  uint64_t Settings = 0, Generation = 0;
  bool NonEmpty = false;
  cl_int Error = CL_SUCCESS;
  void *None = nullptr; // the driver wants a value even for an empty list
  auto Send = [&](const std::vector<void *> &List, bool SentBefore) {
    NonEmpty = !List.empty();
    if (!NonEmpty && !SentBefore)
      return CL_SUCCESS;
    return gNext.clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS,
                                     List.size() * sizeof(void *),
                                     List.empty() ? &None : List.data());
  };
  {
    SharedLock Guard(Layer.Lock);
    auto It = State.Kernels.find(Kernel);
    if (It == State.Kernels.end())
      return CL_SUCCESS;
    const KernelRecord &Record = It->second;
    Settings = Record.Settings;
    Generation = contextGeneration(State, Record.Context);
    if (Record.SentSettings == Settings && Record.SentGeneration == Generation)
      return CL_SUCCESS;
    const std::vector<void *> *Single = nullptr;
    if (Record.CallerPointers.empty() && Record.IndirectPointers.empty() &&
        (Single = singleKindList(State, Record)))
      Error = Send(*Single, Record.SentNonEmpty);
    else
      Settings = 0; // built below
  }
  if (Settings == 0) {
    std::vector<void *> List;
    bool SentBefore = false;
    {
      ExclusiveLock Guard(Layer.Lock);
      auto It = State.Kernels.find(Kernel);
      if (It == State.Kernels.end())
        return CL_SUCCESS;
      Settings = It->second.Settings;
      Generation = contextGeneration(State, It->second.Context);
      List = svmPointerList(State, It->second);
      SentBefore = It->second.SentNonEmpty;
    }
    Error = Send(List, SentBefore);
  }
  ExclusiveLock Guard(Layer.Lock);
  if (auto It = State.Kernels.find(Kernel); It != State.Kernels.end()) {
    KernelRecord &Record = It->second;
    // Changes made meanwhile have a newer count or generation: they are sent next time.
    Record.SentSettings = Error == CL_SUCCESS ? Settings : 0;
    Record.SentGeneration = Generation;
    Record.SentNonEmpty = Error == CL_SUCCESS ? NonEmpty : true; // unknown: clear it next time
  }
  return Error;
}

bool contextServed(cl_context Context) {
  auto It = layerState().Contexts.find(Context);
  return It != layerState().Contexts.end() && It->second.Served;
}

// The indirect-access settings and the caller's SVM pointer list are recorded here and reach the
// driver, as one pointer list, at the next enqueue.
cl_int hookSetKernelExecInfo(cl_kernel Kernel, cl_kernel_exec_info Param, size_t Size,
                             const void *Value) {
  bool IndirectFlag = Param == kExecInfoIndirectHost || Param == kExecInfoIndirectDevice ||
                      Param == kExecInfoIndirectShared;
  bool PointerList = Param == kExecInfoUsmPtrs || Param == CL_KERNEL_EXEC_INFO_SVM_PTRS;
  if (!IndirectFlag && !PointerList)
    return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value);
  {
    ExclusiveLock Guard(layerState().Lock);
    UsmState &State = usmState();
    auto It = State.Kernels.find(Kernel);
    if (!Kernel || It == State.Kernels.end())
      return CL_INVALID_KERNEL;
    KernelRecord &Record = It->second;
    if (contextServed(Record.Context)) {
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
        unsigned Bit = Param == kExecInfoIndirectHost     ? kindBit(AllocKind::Host)
                       : Param == kExecInfoIndirectDevice ? kindBit(AllocKind::Device)
                                                          : kindBit(AllocKind::Shared);
        unsigned Kinds = *static_cast<const cl_bool *>(Value) != CL_FALSE
                             ? Record.IndirectKinds | Bit
                             : Record.IndirectKinds & ~Bit;
        if (Kinds == Record.IndirectKinds)
          return CL_SUCCESS;
        Record.IndirectKinds = Kinds;
      }
      ++Record.Settings;
      return CL_SUCCESS;
    }
  }
  return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value); // the driver's own extension
}

cl_int hookEnqueueNDRangeKernel(cl_command_queue Queue, cl_kernel Kernel, cl_uint WorkDim,
                                const size_t *GlobalOffset, const size_t *GlobalSize,
                                const size_t *LocalSize, cl_uint NumEvents,
                                const cl_event *WaitList, cl_event *Event) {
  // Allocations made since the last launch must reach the driver too.
  if (Kernel) {
    cl_int Error = pushIndirectPointers(Kernel);
    if (Error != CL_SUCCESS)
      return Error;
  }
  return gNext.clEnqueueNDRangeKernel(Queue, Kernel, WorkDim, GlobalOffset, GlobalSize,
                                      LocalSize, NumEvents, WaitList, Event);
}

// Kernels are tracked from creation to their last release: their settings are the layer's, and
// they keep their context's allocations alive.
cl_int trackKernel(cl_kernel Kernel, const KernelRecord *Template) {
  KernelRecord Record = Template ? *Template : KernelRecord();
  Record.RefCount = 1;
  Record.SentSettings = 0;
  Record.SentNonEmpty = Template != nullptr; // a clone carries the source's list
  cl_int Error = gNext.clGetKernelInfo(Kernel, CL_KERNEL_CONTEXT, sizeof(Record.Context),
                                       &Record.Context, nullptr);
  if (Error != CL_SUCCESS) {
    gNext.clReleaseKernel(Kernel);
    return Error;
  }
  cl_context Context = Record.Context;
  {
    ExclusiveLock Guard(layerState().Lock);
    usmState().Kernels[Kernel] = std::move(Record);
  }
  adoptChild(Context);
  return CL_SUCCESS;
}

cl_kernel failKernel(cl_int Error, cl_int *ErrcodeRet) {
  if (ErrcodeRet)
    *ErrcodeRet = Error;
  return nullptr;
}

cl_kernel hookCreateKernel(cl_program Program, const char *Name, cl_int *ErrcodeRet) {
  cl_kernel Kernel = gNext.clCreateKernel(Program, Name, ErrcodeRet);
  cl_int Error = CL_SUCCESS;
  if (Kernel && (Error = trackKernel(Kernel, nullptr)) != CL_SUCCESS)
    return failKernel(Error, ErrcodeRet);
  return Kernel;
}

cl_int hookReleaseKernel(cl_kernel Kernel) {
  cl_context Gone = nullptr;
  {
    ExclusiveLock Guard(layerState().Lock);
    UsmState &State = usmState();
    auto It = State.Kernels.find(Kernel);
    if (It != State.Kernels.end() && --It->second.RefCount == 0) {
      Gone = It->second.Context;
      State.Kernels.erase(It);
    }
  }
  if (Gone)
    dropChild(Gone);
  return gNext.clReleaseKernel(Kernel);
}

cl_int hookCreateKernelsInProgram(cl_program Program, cl_uint NumKernels, cl_kernel *Kernels,
                                  cl_uint *NumKernelsRet) {
  cl_uint Created = 0;
  cl_int Error = gNext.clCreateKernelsInProgram(Program, NumKernels, Kernels, &Created);
  if (Error != CL_SUCCESS)
    return Error;
  Error = setUpKernelsAllOrNone(
      Kernels, Created, [](cl_kernel Kernel) { return trackKernel(Kernel, nullptr); },
      hookReleaseKernel);
  if (Error != CL_SUCCESS)
    return Error;
  if (NumKernelsRet)
    *NumKernelsRet = Created;
  return CL_SUCCESS;
}

cl_kernel hookCloneKernel(cl_kernel Source, cl_int *ErrcodeRet) {
  cl_kernel Clone = gNext.clCloneKernel(Source, ErrcodeRet);
  if (!Clone)
    return nullptr;
  KernelRecord Template;
  bool Known = false;
  {
    SharedLock Guard(layerState().Lock);
    auto It = usmState().Kernels.find(Source);
    if ((Known = It != usmState().Kernels.end()))
      Template = It->second;
  }
  cl_int Error = trackKernel(Clone, Known ? &Template : nullptr);
  return Error == CL_SUCCESS ? Clone : failKernel(Error, ErrcodeRet);
}

cl_int hookRetainKernel(cl_kernel Kernel) {
  cl_int Error = gNext.clRetainKernel(Kernel);
  if (Error == CL_SUCCESS) {
    ExclusiveLock Guard(layerState().Lock);
    auto It = usmState().Kernels.find(Kernel);
    if (It != usmState().Kernels.end())
      ++It->second.RefCount;
  }
  return Error;
}

// Largest divisor of Value that is at most Limit (at least 1).
size_t largestDivisorUpTo(size_t Value, size_t Limit) {
  for (size_t D = std::min(Value, Limit); D > 1; --D)
    if (Value % D == 0)
      return D;
  return 1;
}

} // namespace

extern "C" cl_int CL_API_CALL layerSetKernelArgMemPointer(cl_kernel kernel, cl_uint arg_index,
                                                          const void *arg_value) {
  if (!kernel || !kernelKnown(kernel))
    return CL_INVALID_KERNEL;
  return gNext.clSetKernelArgSVMPointer(kernel, arg_index, arg_value);
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
  Table.clCreateKernel = guarded<hookCreateKernel>;
  Table.clCreateKernelsInProgram = guarded<hookCreateKernelsInProgram>;
  Table.clCloneKernel = guarded<hookCloneKernel>;
  Table.clRetainKernel = guarded<hookRetainKernel>;
  Table.clReleaseKernel = guarded<hookReleaseKernel>;
  Table.clSetKernelExecInfo = guarded<hookSetKernelExecInfo>;
  Table.clEnqueueNDRangeKernel = guarded<hookEnqueueNDRangeKernel>;
}
