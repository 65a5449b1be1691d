// Kernel start and end, the team's state, the shared stack and the thread queries.
#include "devrt.h"


// Weak, so that compiling the runtime does not fold it: omptarget-cc sets it per program.
__attribute__((weak)) const GLOBAL uint8_t __devrt_uses_team_stack = 1;

// Every work-item of every kernel calls this first. SPMD kernels run all work-items through the
// region (all get -1). Generic kernels run their sequential part on the team's first work-item
// (it gets -1); the others get their number and leave, so parallel regions of a generic kernel
// run on that one work-item.
int32_t __kmpc_target_init(KernelEnvironment *Env, void *LaunchEnv) {
  (void)LaunchEnv;
  uint32_t Tid = hwThreadId();
  uint8_t Mode = Env->Configuration.ExecMode;
  int SPMD = (Mode & EXEC_SPMD) != 0;
  if (Tid == 0) {
    devrtTeam.ParallelSize = 1;
    devrtTeam.SharedTop = 0;
    devrtTeam.SharedLock = 0;
    devrtTeam.SharedArgs = 0;
  }
  // The CPU device's work-groups hold at most 4096 work-items.
  if (Tid < DEVRT_MAX_THREADS)
    devrtLevel[Tid] = SPMD ? LEVEL_SPMD : 0;
  // The other work-items of an SPMD kernel read the team's state only after barriers of their
  // own (parallel regions, dispatched loops), except the shared stack: a program that cannot
  // allocate on it starts its SPMD kernels without a barrier. Generic kernels keep it.
  if (!SPMD || __devrt_uses_team_stack)
    hwBarrier();
  if (SPMD)
    return -1;
  return Tid == 0 ? -1 : (int32_t)Tid;
}

void __kmpc_target_deinit(void) {}

int8_t __kmpc_is_spmd_exec_mode(void) { return isSPMD(); }

// The team's shared stack: variables the compiler makes visible to other threads, and tasks.
// Blocks are freed in any order; the stack shrinks when its top block goes. Kept out of line in
// the runtime's bitcode: omptarget-cc tells from a program's linked code whether it is there (and
// inlines it afterwards).
__attribute__((noinline)) void *devrtSharedAlloc(uint64_t Bytes) {
  uint32_t Size = (uint32_t)((Bytes + 7) & ~(uint64_t)7);
  while (__atomic_exchange_n(&devrtTeam.SharedLock, 1u, __ATOMIC_ACQUIRE))
    ;
  uint32_t Old = devrtTeam.SharedTop;
  int Fits = Bytes <= DEVRT_SHARED_STACK && Old + Size <= DEVRT_SHARED_STACK;
  if (Fits)
    devrtTeam.SharedTop = Old + Size;
  __atomic_store_n(&devrtTeam.SharedLock, 0u, __ATOMIC_RELEASE);
  // omptarget-cc refuses any one variable larger than the stack; a stack filled by several gives
  // a null pointer.
  if (!Fits)
    return 0;
  return (void *)((LOCAL char *)devrtSharedStack + Old);
}

void devrtSharedFree(void *Ptr, uint64_t Bytes) {
  uint32_t Size = (uint32_t)((Bytes + 7) & ~(uint64_t)7);
  uint32_t End = (uint32_t)((LOCAL char *)Ptr - (LOCAL char *)devrtSharedStack) + Size;
  while (__atomic_exchange_n(&devrtTeam.SharedLock, 1u, __ATOMIC_ACQUIRE))
    ;
  if (devrtTeam.SharedTop == End)
    devrtTeam.SharedTop = End - Size;
  __atomic_store_n(&devrtTeam.SharedLock, 0u, __ATOMIC_RELEASE);
}

void *__kmpc_alloc_shared(uint64_t Bytes) { return devrtSharedAlloc(Bytes); }
void __kmpc_free_shared(void *Ptr, uint64_t Bytes) { devrtSharedFree(Ptr, Bytes); }

// Hardware queries (__kmpc_get_hardware_num_threads_in_block is in calls.ll: the compiler calls
// it with another calling convention).
int32_t __devrt_num_threads_in_block(void) { return (int32_t)hwNumThreads(); }
int32_t __kmpc_get_hardware_thread_id_in_block(void) { return (int32_t)hwThreadId(); }
// Each work-item is its own warp: cross-thread exchanges go through local memory.
int32_t __kmpc_get_warp_size(void) { return 1; }
int32_t __kmpc_global_thread_num(void *Ident) {
  (void)Ident;
  return (int32_t)ompThreadNum();
}

// The OpenMP routines device code may call.
int omp_get_thread_num(void) { return (int)ompThreadNum(); }
int omp_get_num_threads(void) { return (int)ompNumThreads(); }
// Generic kernels run their parallel regions on one thread.
int omp_get_max_threads(void) { return parallelLevel() == 0 && isSPMD() ? (int)hwNumThreads() : 1; }
int omp_get_thread_limit(void) { return isSPMD() ? (int)hwNumThreads() : 1; }
int omp_get_team_num(void) { return (int)hwTeamId(); }
int omp_get_num_teams(void) { return (int)hwNumTeams(); }
int omp_get_level(void) { return (int)parallelLevel(); }
int omp_get_active_level(void) {
  return parallelLevel() >= 1 && devrtTeam.ParallelSize > 1 ? 1 : 0;
}
int omp_in_parallel(void) { return omp_get_active_level(); }
int omp_get_ancestor_thread_num(int Level) {
  if (Level == 0)
    return 0;
  if (Level == 1 && parallelLevel() >= 1)
    return (int)(devrtTeam.ParallelSize > 1 ? hwThreadId() : 0);
  return Level <= (int)parallelLevel() ? 0 : -1;
}
int omp_get_team_size(int Level) {
  if (Level == 0)
    return 1;
  if (Level == 1 && parallelLevel() >= 1)
    return (int)devrtTeam.ParallelSize;
  return Level <= (int)parallelLevel() ? 1 : -1;
}
int omp_is_initial_device(void) { return 0; }
// The plugin writes the program data record at load time.
typedef struct {
  uint32_t Initialized, NumDevices;
  int32_t DeviceNum;
  uint32_t Rest[13]; // 64 bytes in all
} ProgramData;
GLOBAL ProgramData __omp_spirv_program_data;
int omp_get_device_num(void) { return __omp_spirv_program_data.DeviceNum; }
int omp_get_num_devices(void) { return 0; }
int omp_get_dynamic(void) { return 0; }
int omp_get_nested(void) { return 0; }
int omp_get_max_active_levels(void) { return 1; }
int omp_get_num_procs(void) { return (int)(hwNumThreads() * hwNumTeams()); }
int omp_in_final(void) { return 1; }
void omp_set_num_threads(int N) { (void)N; }
void omp_set_dynamic(int On) { (void)On; }
void omp_set_max_active_levels(int N) { (void)N; }
