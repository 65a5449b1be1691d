// Reductions across the threads of a parallel region and across the teams of a kernel. The
// compiler hands over helper functions that know the reduced variables' types: a shuffle-and-
// reduce function (combines a thread's list with the one a given distance above it, read through
// __kmpc_shuffle_*), and copy/reduce functions between a thread's list and a global buffer.
#include "devrt.h"

// The value Delta work-items above the caller (the caller's own value past the team's end).
// Every work-item of the team calls it together.
INLINE int64_t exchange(int64_t Value, int16_t Delta) {
  uint32_t Tid = hwThreadId(), Team = hwNumThreads();
  devrtExchange[Tid] = Value;
  hwBarrier();
  uint32_t From = Tid + (uint32_t)(uint16_t)Delta;
  int64_t Result = From < Team ? devrtExchange[From] : Value;
  hwBarrier();
  return Result;
}

int32_t __kmpc_shuffle_int32(int32_t Value, int16_t Delta, int16_t Width) {
  (void)Width;
  return (int32_t)exchange(Value, Delta);
}
int64_t __kmpc_shuffle_int64(int64_t Value, int16_t Delta, int16_t Width) {
  (void)Width;
  return exchange(Value, Delta);
}

// Reduction helper versions: version 1 combines lanes below the offset with the lane the offset
// above them, and copies the remote list into the lanes at or above it.
enum { ALGO_CONTIGUOUS = 1 };

// Tree reduction over the N work-items of the team; the first ends with the result.
INLINE void reduceTeam(void *List, void *ShuffleReduce, uint32_t N) {
  uint32_t Tid = hwThreadId();
  while (N > 1) {
    uint32_t Offset = N / 2;
    __devrt_call_shuffle_reduce(ShuffleReduce, List, (int16_t)Tid, (int16_t)Offset,
                                ALGO_CONTIGUOUS);
    N = (N + 1) / 2;
  }
}

// 1 for the thread that adds the region's result to the original variables.
INLINED_ENTRY int32_t __kmpc_nvptx_parallel_reduce_nowait_v2(void *Ident, uint64_t DataSize, void *List,
                                               void *ShuffleReduce, void *InterWarpCopy) {
  (void)Ident;
  (void)DataSize;
  (void)InterWarpCopy;
  if (ompNumThreads() == 1)
    return 1;
  // A parallel region of more than one thread runs on every work-item of an SPMD team.
  reduceTeam(List, ShuffleReduce, hwNumThreads());
  return hwThreadId() == 0;
}

// Cross-team state: one buffer record, filled under a lock by each team's first thread; the last
// team to arrive takes the result and resets the state for the next reduction.
#define DEVRT_REDUCTION_BUFFER 65536
static GLOBAL uint64_t ReductionBuffer[DEVRT_REDUCTION_BUFFER / 8];
static GLOBAL uint32_t ReductionLock;
static GLOBAL uint32_t ReductionFilled;
static GLOBAL uint32_t ReductionArrived;

void *__kmpc_reduction_get_fixed_buffer(void) { return (void *)ReductionBuffer; }

// 1 for the one thread of the kernel that adds the teams' result to the original variables.
INLINED_ENTRY int32_t __kmpc_nvptx_teams_reduce_nowait_v2(void *Ident, void *Buffer, uint32_t Records,
                                            uint64_t DataSize, void *List, void *ShuffleReduce,
                                            void *InterWarpCopy, void *ListToGlobalCopy,
                                            void *ListToGlobalReduce, void *GlobalToListCopy,
                                            void *GlobalToListReduce) {
  (void)Ident;
  (void)Records;
  (void)ShuffleReduce;
  (void)InterWarpCopy;
  (void)GlobalToListReduce;
  // The team's value is in its first thread's list (SPMD teams run this on every work-item).
  if (hwThreadId() != 0)
    return 0;
  // omptarget-cc refuses reductions larger than the buffer.
  (void)DataSize;
  uint32_t Teams = hwNumTeams();
  if (Teams == 1)
    return 1;
  lockGlobal(&ReductionLock);
  if (ReductionFilled)
    __devrt_call_buffer_list(ListToGlobalReduce, Buffer, 0, List);
  else
    __devrt_call_buffer_list(ListToGlobalCopy, Buffer, 0, List);
  ReductionFilled = 1;
  unlockGlobal(&ReductionLock);
  if (__atomic_fetch_add(&ReductionArrived, 1, __ATOMIC_ACQ_REL) != Teams - 1)
    return 0;
  __devrt_call_buffer_list(GlobalToListCopy, Buffer, 0, List);
  ReductionFilled = 0;
  __atomic_store_n(&ReductionArrived, 0, __ATOMIC_RELEASE);
  return 1;
}
