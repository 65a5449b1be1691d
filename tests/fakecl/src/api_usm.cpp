// Unified-shared-memory allocations on real host memory, the pointer query and copies.
#include "api.h"
#include "call.h"
#include "commands.h"
#include "info.h"
#include "usm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace fakecl {

const UsmAlloc *findAllocation(const State &S, const void *Address) {
  uintptr_t A = reinterpret_cast<uintptr_t>(Address);
  auto It = S.Allocations.upper_bound(A);
  if (It == S.Allocations.begin())
    return nullptr;
  --It;
  if (A >= It->first + It->second.Size)
    return nullptr;
  return &It->second;
}

void freeAllAllocations(State &S) {
  for (auto &A : S.Allocations) {
    untrackObject(S, A.second.Base);
    std::free(A.second.Base);
  }
  S.Allocations.clear();
}

// Fresh allocations hold garbage, as device memory does: code that assumes zeros shows up.
constexpr unsigned char FreshMemoryByte = 0xA5;

static void *allocate(Call &C, cl_context Context, cl_device_id Device, cl_uint Type,
                      const MemPropertiesTy *Properties, size_t Size, cl_uint Alignment, cl_int *ErrcodeRet) {
  if (cl_int E = C.fault())
    return C.fail<void *>(E, ErrcodeRet);
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.fail<void *>(CL_INVALID_CONTEXT, ErrcodeRet);
  bool DeviceGiven = Device != nullptr;
  if (Type == MemTypeDevice || DeviceGiven) {
    if (std::find(Ctx->Devices.begin(), Ctx->Devices.end(), Device) == Ctx->Devices.end())
      return C.fail<void *>(CL_INVALID_DEVICE, ErrcodeRet);
  }
  if (Alignment & (Alignment - 1))
    return C.fail<void *>(CL_INVALID_VALUE, ErrcodeRet);
  std::vector<cl_ulong> Props;
  cl_ulong Flags = 0;
  for (const MemPropertiesTy *P = Properties; P && *P; P += 2) {
    if (P[0] != MemAllocFlagsProperty)
      return C.fail<void *>(CL_INVALID_PROPERTY, ErrcodeRet);
    Flags = P[1];
    Props.push_back(P[0]);
    Props.push_back(P[1]);
  }
  Props.push_back(0);
  if (Size == 0)
    return C.fail<void *>(CL_INVALID_BUFFER_SIZE, ErrcodeRet);
  // Larger than one allocation may be only with the flag that permits it.
  cl_device_id Limiting = DeviceGiven ? Device : Ctx->Devices.front();
  cl_ulong MaxAlloc = ~0ull;
  const InfoValue *Max = findInfo(deviceOf(C.S, Limiting)->Info, CL_DEVICE_MAX_MEM_ALLOC_SIZE);
  if (Max && Max->Bytes.size() == sizeof(cl_ulong))
    std::memcpy(&MaxAlloc, Max->Bytes.data(), sizeof(cl_ulong));
  if (Size > MaxAlloc && !(Flags & MemAllocAllowLargeFlag))
    return C.fail<void *>(CL_INVALID_BUFFER_SIZE, ErrcodeRet);
  void *Ptr = nullptr;
  size_t Align = std::max<size_t>(Alignment, 64);
  if (posix_memalign(&Ptr, Align, Size) != 0)
    return C.fail<void *>(CL_OUT_OF_HOST_MEMORY, ErrcodeRet);
  std::memset(Ptr, FreshMemoryByte, Size);
  UsmAlloc &A = C.S.Allocations[reinterpret_cast<uintptr_t>(Ptr)];
  A.Base = Ptr;
  A.Size = Size;
  A.Type = Type;
  A.Alignment = Alignment;
  A.Context = Context;
  A.Device = Device;
  A.Properties = Props;
  trackObject(C.S, ObjectKind::Usm, Ptr);
  return C.retHandle(Ptr, CL_SUCCESS, ErrcodeRet);
}

void *CL_API_CALL HostMemAlloc(cl_context Context, const MemPropertiesTy *Properties, size_t Size,
                               cl_uint Alignment, cl_int *ErrcodeRet) {
  Call C("clHostMemAllocTARNO", Context, PropList<MemPropertiesTy>{Properties}, Size, Alignment, ErrcodeRet);
  return allocate(C, Context, nullptr, MemTypeHost, Properties, Size, Alignment, ErrcodeRet);
}

void *CL_API_CALL DeviceMemAlloc(cl_context Context, cl_device_id Device, const MemPropertiesTy *Properties,
                                 size_t Size, cl_uint Alignment, cl_int *ErrcodeRet) {
  Call C("clDeviceMemAllocTARNO", Context, Device, PropList<MemPropertiesTy>{Properties}, Size, Alignment,
         ErrcodeRet);
  return allocate(C, Context, Device, MemTypeDevice, Properties, Size, Alignment, ErrcodeRet);
}

void *CL_API_CALL SharedMemAlloc(cl_context Context, cl_device_id Device, const MemPropertiesTy *Properties,
                                 size_t Size, cl_uint Alignment, cl_int *ErrcodeRet) {
  Call C("clSharedMemAllocTARNO", Context, Device, PropList<MemPropertiesTy>{Properties}, Size, Alignment,
         ErrcodeRet);
  return allocate(C, Context, Device, MemTypeShared, Properties, Size, Alignment, ErrcodeRet);
}

cl_int CL_API_CALL GetMemAllocInfo(cl_context Context, const void *Ptr, cl_uint Param, size_t Size, void *Value,
                                   size_t *SizeRet) {
  Call C("clGetMemAllocInfoTARNO", Context, Ptr, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  if (!contextOf(C.S, Context))
    return C.ret(CL_INVALID_CONTEXT);
  const UsmAlloc *A = findAllocation(C.S, Ptr);
  if (A && A->Context != Context)
    A = nullptr; // another context's memory is unknown here
  switch (Param) {
  case MemAllocInfoType:
    return C.ret(answerScalar<cl_uint>(A ? A->Type : MemTypeUnknown, Size, Value, SizeRet));
  case MemAllocInfoBasePtr:
    return C.ret(answerScalar<void *>(A ? A->Base : nullptr, Size, Value, SizeRet));
  case MemAllocInfoSize:
    return C.ret(answerScalar<size_t>(A ? A->Size : 0, Size, Value, SizeRet));
  case MemAllocInfoDevice:
    return C.ret(answerScalar<cl_device_id>(A ? A->Device : nullptr, Size, Value, SizeRet));
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

static cl_int freeAllocation(Call &C, cl_context Context, void *Ptr, bool Blocking) {
  if (cl_int E = C.fault())
    return C.ret(E);
  if (!contextOf(C.S, Context))
    return C.ret(CL_INVALID_CONTEXT);
  if (!Ptr)
    return C.ret(CL_SUCCESS);
  auto It = C.S.Allocations.find(reinterpret_cast<uintptr_t>(Ptr));
  if (It == C.S.Allocations.end() || It->second.Context != Context)
    return C.ret(CL_INVALID_VALUE);
  if (Blocking) {
    // Wait for every command of the context's queues that might still use the memory.
    std::vector<QueueObj *> Queues;
    for (auto &H : C.S.Handles)
      if (H.second == ObjectKind::Queue)
        Queues.push_back(static_cast<const _cl_command_queue *>(H.first)->Obj);
    for (QueueObj *Q : Queues)
      if (Q->Context == Context)
        runPending(C.S, *Q);
  }
  untrackObject(C.S, Ptr);
  C.S.Allocations.erase(It);
  std::free(Ptr);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL MemFree(cl_context Context, void *Ptr) {
  Call C("clMemFreeTARNO", Context, Ptr);
  return freeAllocation(C, Context, Ptr, false);
}

cl_int CL_API_CALL MemBlockingFree(cl_context Context, void *Ptr) {
  Call C("clMemBlockingFreeTARNO", Context, Ptr);
  return freeAllocation(C, Context, Ptr, true);
}

// A copy may not run past the end of an allocation it starts in.
static bool withinAllocation(const State &S, const void *Ptr, size_t Size) {
  const UsmAlloc *A = findAllocation(S, Ptr);
  if (!A)
    return true;
  uintptr_t End = reinterpret_cast<uintptr_t>(A->Base) + A->Size;
  return Size <= End - reinterpret_cast<uintptr_t>(Ptr);
}

static cl_int copy(Call &C, cl_command_queue Queue, cl_bool Blocking, void *Dst, const void *Src, size_t Size,
                   cl_uint NumWait, const cl_event *WaitList, cl_event *Event) {
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  if (Size && (!Dst || !Src))
    return C.ret(CL_INVALID_VALUE);
  if (!withinAllocation(C.S, Dst, Size) || !withinAllocation(C.S, Src, Size))
    return C.ret(CL_INVALID_VALUE);
  uintptr_t D = reinterpret_cast<uintptr_t>(Dst), S = reinterpret_cast<uintptr_t>(Src);
  if (Size && D < S + Size && S < D + Size)
    return C.ret(CL_MEM_COPY_OVERLAP);
  auto Work = [Dst, Src, Size] {
    if (Size)
      std::memcpy(Dst, Src, Size);
  };
  return C.ret(submitCommand(C.S, *Q, CommandUsmMemcpy, Blocking, Work, NumWait, WaitList, Event));
}

cl_int CL_API_CALL EnqueueMemcpy(cl_command_queue Queue, cl_bool Blocking, void *Dst, const void *Src, size_t Size,
                                 cl_uint NumWait, const cl_event *WaitList, cl_event *Event) {
  Call C("clEnqueueMemcpyTARNO", Queue, Blocking, Dst, Src, Size, NumWait,
         HandleArray<cl_event>{WaitList, WaitList ? NumWait : 0}, Event);
  return copy(C, Queue, Blocking, Dst, Src, Size, NumWait, WaitList, Event);
}

void *CL_API_CALL SVMAlloc(cl_context Context, cl_svm_mem_flags Flags, size_t Size, cl_uint Alignment) {
  Call C("clSVMAlloc", Context, Hex{Flags}, Size, Alignment);
  return allocate(C, Context, nullptr, MemTypeShared, nullptr, Size, Alignment, nullptr);
}

void CL_API_CALL SVMFree(cl_context Context, void *Ptr) {
  Call C("clSVMFree", Context, Ptr);
  freeAllocation(C, Context, Ptr, false);
}

cl_int CL_API_CALL EnqueueSVMMemcpy(cl_command_queue Queue, cl_bool Blocking, void *Dst, const void *Src,
                                    size_t Size, cl_uint NumWait, const cl_event *WaitList, cl_event *Event) {
  Call C("clEnqueueSVMMemcpy", Queue, Blocking, Dst, Src, Size, NumWait,
         HandleArray<cl_event>{WaitList, WaitList ? NumWait : 0}, Event);
  return copy(C, Queue, Blocking, Dst, Src, Size, NumWait, WaitList, Event);
}

// Frees when the command runs, after its wait list and the queue's earlier commands.
cl_int CL_API_CALL EnqueueSVMFree(cl_command_queue Queue, cl_uint NumPointers, void *Pointers[],
                                  SvmFreeNotify Notify, void *User, cl_uint NumWait,
                                  const cl_event *WaitList, cl_event *Event) {
  Call C("clEnqueueSVMFree", Queue, NumPointers,
         HandleArray<void *>{Pointers, Pointers ? NumPointers : 0}, NumWait,
         HandleArray<cl_event>{WaitList, WaitList ? NumWait : 0}, Event);
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  if (!NumPointers || !Pointers)
    return C.ret(CL_INVALID_VALUE);
  std::vector<void *> List(Pointers, Pointers + NumPointers);
  State *S = &C.S;
  return C.ret(submitCommand(
      C.S, *Q, CL_COMMAND_SVM_FREE, false,
      [S, List, Notify, User, Queue]() mutable {
        if (Notify)
          return Notify(Queue, static_cast<cl_uint>(List.size()), List.data(), User);
        for (void *Ptr : List) {
          auto It = S->Allocations.find(reinterpret_cast<uintptr_t>(Ptr));
          if (It == S->Allocations.end())
            continue;
          untrackObject(*S, Ptr);
          S->Allocations.erase(It);
          std::free(Ptr);
        }
      },
      NumWait, WaitList, Event));
}

cl_int CL_API_CALL IndirectAllocationOffsets(void *Base, cl_uint NumOffsets, cl_ulong *Offsets) {
  Call C("clVelkIndirectAllocationOffsets", Base, NumOffsets, SizeArray{reinterpret_cast<const size_t *>(Offsets), Offsets ? NumOffsets : 0u});
  if (cl_int E = C.fault())
    return C.ret(E);
  if (!Base || !NumOffsets || !Offsets)
    return C.ret(CL_INVALID_VALUE);
  return C.ret(CL_SUCCESS);
}

} // namespace fakecl
