// Internal declarations of the OpenMP device runtime: the OpenCL work-item builtins it runs on,
// the per-team state kept in work-group local memory, and the helpers the compiler-facing entry
// points share. Compiled as C for spirv64 by clang-22; every function here is inlined into the
// kernels after the runtime is linked into a program's device code.
#ifndef DEVRT_H
#define DEVRT_H

#include <stdint.h>

#define LOCAL __attribute__((address_space(3)))
#define GLOBAL __attribute__((address_space(1)))
#define CONSTANT __attribute__((address_space(2)))
#define INLINE static inline __attribute__((always_inline))
// Entry points that call through a function pointer the compiler passes: inlined into the caller,
// where the pointer is a known function and the call becomes direct (SPIR-V has no indirect
// calls).
#define INLINED_ENTRY __attribute__((always_inline))

// OpenCL work-item builtins by their mangled names, which the SPIR-V backend maps to built-in
// variables and instructions.
uint64_t _Z12get_local_idj(uint32_t);
uint64_t _Z14get_local_sizej(uint32_t);
uint64_t _Z12get_group_idj(uint32_t);
uint64_t _Z14get_num_groupsj(uint32_t);
__attribute__((convergent)) void _Z7barrierj(uint32_t);

INLINE uint32_t hwThreadId(void) { return (uint32_t)_Z12get_local_idj(0); }
INLINE uint32_t hwNumThreads(void) { return (uint32_t)_Z14get_local_sizej(0); }
INLINE uint32_t hwTeamId(void) { return (uint32_t)_Z12get_group_idj(0); }
INLINE uint32_t hwNumTeams(void) { return (uint32_t)_Z14get_num_groupsj(0); }
// Local and global memory both made consistent across the work-group.
INLINE void hwBarrier(void) { _Z7barrierj(3); }

// Execution modes of the kernel environment.
enum { EXEC_GENERIC = 1, EXEC_SPMD = 2 };

// Work-items per team the runtime keeps per-thread state for.
#define DEVRT_MAX_THREADS 4096
// Bytes of the team's shared stack (variables the compiler shares between threads, tasks).
#define DEVRT_SHARED_STACK 65536

// The compiler's kernel environment: configuration, ident, dynamic environment.
typedef struct {
  uint8_t UseGenericStateMachine;
  uint8_t MayUseNestedParallelism;
  uint8_t ExecMode;
  int32_t MinThreads, MaxThreads, MinTeams, MaxTeams;
  int32_t ReductionDataSize, ReductionBufferLength;
} ConfigurationEnvironment;

typedef struct {
  ConfigurationEnvironment Configuration;
  void *Ident;
  void *DynamicEnvironment;
} KernelEnvironment;

// One team's state, written by its first work-item at kernel start.
typedef struct {
  // Threads of the active outermost parallel region (1 outside one, and when it is serialized).
  uint32_t ParallelSize;
  uint32_t SharedTop; // bytes of SharedStack in use
  uint32_t SharedLock;
  void *SharedArgs;   // the argument list of the parallel region being run
  // The dynamically scheduled loop the team runs: its bounds, step and chunk, and the next chunk
  // to hand out.
  int64_t DispatchLower, DispatchUpper, DispatchIncr, DispatchChunk;
  uint64_t DispatchNext;
} TeamState;

// Work-group local variables (defined in calls.ll, with these sizes).
extern LOCAL TeamState devrtTeam;
_Static_assert(sizeof(TeamState) <= 128, "calls.ll gives the team state 128 bytes");
// Per work-item nesting depth of parallel regions, and whether the kernel runs in SPMD mode (each
// work-item keeps its own copy, so that no barrier needs to publish it).
extern LOCAL uint8_t devrtLevel[DEVRT_MAX_THREADS];
#define LEVEL_SPMD 0x80
// The team's shared stack.
extern LOCAL uint64_t devrtSharedStack[DEVRT_SHARED_STACK / 8];
// One 64-bit slot per work-item for the exchanges of the shuffles.
extern LOCAL int64_t devrtExchange[DEVRT_MAX_THREADS];

INLINE int isSPMD(void) { return (devrtLevel[hwThreadId()] & LEVEL_SPMD) != 0; }
INLINE uint32_t parallelLevel(void) { return devrtLevel[hwThreadId()] & ~LEVEL_SPMD; }

// Non-zero when the program's device code may allocate on the team's shared stack (variables
// shared with parallel regions, tasks): 1 here, set to 0 by omptarget-cc in a program's linked
// device code where nothing can, so that its SPMD kernels start without a barrier.
extern const GLOBAL uint8_t __devrt_uses_team_stack;

// The thread number and team size that OpenMP sees at the calling point. A region's size is 1
// or the whole team; taken from the work-group builtin in the second case, which the CPU driver
// knows when it builds the kernel for a work-group size, so that a loop's stride over the
// threads is a constant there.
INLINE uint32_t ompThreadNum(void) {
  if (parallelLevel() != 1 || devrtTeam.ParallelSize == 1)
    return 0;
  return hwThreadId();
}
INLINE uint32_t ompNumThreads(void) {
  return parallelLevel() == 1 && devrtTeam.ParallelSize != 1 ? hwNumThreads() : 1;
}
// True where all work-items of the team run the calling point together, so that a hardware
// barrier is legal there.
INLINE int teamIsConverged(void) {
  return isSPMD() && parallelLevel() <= 1 && (parallelLevel() == 0 || devrtTeam.ParallelSize > 1);
}


// Calls through function pointers the compiler hands over (outlined regions, reduction helpers,
// task entries), made with the calling convention the compiler gives those functions
// (defined in calls.ll).
void __devrt_call_outlined(void *Fn, int32_t *Gtid, int32_t *Btid, void **Args, int64_t NArgs);
void __devrt_call_shuffle_reduce(void *Fn, void *List, int16_t Lane, int16_t Offset,
                                 int16_t Algo);
void __devrt_call_buffer_list(void *Fn, void *Buffer, int32_t Index, void *List);
int32_t __devrt_call_task(void *Fn, int32_t Gtid, void *Task);

// Spin locks by test-and-set. Compare-and-swap is avoided throughout: the OpenCL C builtin it
// becomes takes a generic pointer for the expected value, an overload the CPU driver lacks.
INLINE void lockGlobal(GLOBAL uint32_t *Lock) {
  while (__atomic_exchange_n(Lock, 1u, __ATOMIC_ACQUIRE))
    ;
}
INLINE void unlockGlobal(GLOBAL uint32_t *Lock) { __atomic_store_n(Lock, 0u, __ATOMIC_RELEASE); }

void *devrtSharedAlloc(uint64_t Bytes);
void devrtSharedFree(void *Ptr, uint64_t Bytes);

#endif
