// Parallel regions and barriers.
#include "devrt.h"

// SPMD kernels reach here on every work-item of the team. The outermost region runs on all of
// them when it may (no if clause that is false, no num_threads below the team size), else on the
// first one alone; nested regions, and regions of generic kernels, run on the calling thread.
INLINED_ENTRY void __kmpc_parallel_60(void *Ident, int32_t Gtid, int32_t IfExpr, int32_t NumThreads,
                        int32_t ProcBind, void *Fn, void *WrapperFn, void **Args, int64_t NArgs,
                        int32_t Strict) {
  (void)Ident;
  (void)Gtid;
  (void)ProcBind;
  (void)WrapperFn;
  (void)Strict;
  uint32_t Tid = hwThreadId();
  int32_t Zero = 0;
  if (isSPMD() && parallelLevel() == 0) {
    uint32_t Team = hwNumThreads();
    int Whole = IfExpr && (NumThreads <= 0 || (uint32_t)NumThreads >= Team);
    hwBarrier();
    if (Tid == 0)
      devrtTeam.ParallelSize = Whole ? Team : 1;
    hwBarrier();
    if (Whole || Tid == 0) {
      int32_t Num = Whole ? (int32_t)Tid : 0;
      devrtLevel[Tid] = LEVEL_SPMD | 1;
      __devrt_call_outlined(Fn, &Num, &Zero, Args, NArgs);
      devrtLevel[Tid] = LEVEL_SPMD;
    }
    hwBarrier();
    if (Tid == 0)
      devrtTeam.ParallelSize = 1;
    hwBarrier();
    return;
  }
  int32_t Num = 0;
  devrtLevel[Tid] += 1;
  __devrt_call_outlined(Fn, &Num, &Zero, Args, NArgs);
  devrtLevel[Tid] -= 1;
}

// The argument list of the region a generic kernel's worker runs.
void __kmpc_get_shared_variables(void ***Args) { *Args = (void **)devrtTeam.SharedArgs; }

// The compiler's worker loop of a generic kernel: there is never work for the workers here,
// parallel regions run on the team's first work-item.
int8_t __devrt_kernel_parallel(void **WorkFn) {
  *WorkFn = 0;
  return 0;
}

void __kmpc_barrier(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
  if (teamIsConverged())
    hwBarrier();
}

void __devrt_barrier_simple(void) {
  if (isSPMD())
    hwBarrier();
}

void __kmpc_flush(void *Ident) {
  (void)Ident;
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
}

// Every work-item is a warp of its own.
int64_t __kmpc_warp_active_thread_mask(void) { return 1; }
void __kmpc_syncwarp(int64_t Mask) { (void)Mask; }
