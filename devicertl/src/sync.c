// Mutual exclusion, single and masked regions, and tasks.
#include "devrt.h"

// Critical sections exclude each other across all teams, one lock per name: the compiler's lock
// variable of the name (a program variable, in global memory).
void __kmpc_critical(void *Ident, int32_t Gtid, void *Lock) {
  (void)Ident;
  (void)Gtid;
  lockGlobal((GLOBAL uint32_t *)Lock);
}
void __kmpc_end_critical(void *Ident, int32_t Gtid, void *Lock) {
  (void)Ident;
  (void)Gtid;
  unlockGlobal((GLOBAL uint32_t *)Lock);
}

// The team's thread 0 runs single regions; the compiler adds the barrier that ends them.
int32_t __kmpc_single(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
  return ompThreadNum() == 0;
}
void __kmpc_end_single(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}

int32_t __kmpc_master(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
  return ompThreadNum() == 0;
}
void __kmpc_end_master(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}
int32_t __kmpc_masked(void *Ident, int32_t Gtid, int32_t Filter) {
  (void)Ident;
  (void)Gtid;
  return (int32_t)ompThreadNum() == Filter;
}
void __kmpc_end_masked(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}

// Tasks run at once on the thread that creates them. The task record starts with the pointer to
// its shared variables and its entry, as the compiler lays it out; its shared variables follow the
// record in the same block.
typedef struct {
  void *Shareds;
  void *Entry;
  int32_t PartId;
} TaskRecord;

INLINED_ENTRY void *__kmpc_omp_task_alloc(void *Ident, int32_t Gtid, int32_t Flags, uint64_t TaskSize,
                            uint64_t SharedsSize, void *Entry) {
  (void)Ident;
  (void)Gtid;
  (void)Flags;
  // A header in front of the record keeps the block's size for its release.
  uint64_t Aligned = (TaskSize + 7) & ~(uint64_t)7;
  uint64_t Bytes = 8 + Aligned + SharedsSize;
  uint64_t *Block = (uint64_t *)devrtSharedAlloc(Bytes);
  if (!Block)
    return 0;
  Block[0] = Bytes;
  TaskRecord *Task = (TaskRecord *)(Block + 1);
  Task->Shareds = (char *)Task + Aligned;
  Task->Entry = Entry;
  Task->PartId = 0;
  return Task;
}

INLINED_ENTRY INLINE void runTask(int32_t Gtid, void *Task, void *Entry) {
  __devrt_call_task(Entry, Gtid, Task);
  uint64_t *Block = (uint64_t *)Task - 1;
  devrtSharedFree(Block, Block[0]);
}

// omptarget-cc passes the entry the task was made with, so that the call is direct; through the
// record it would be a call through a pointer, which SPIR-V cannot hold.
int32_t __devrt_omp_task_entry(void *Ident, int32_t Gtid, void *Task, void *Entry) {
  (void)Ident;
  runTask(Gtid, Task, Entry);
  return 0;
}
int32_t __devrt_omp_task_with_deps_entry(void *Ident, int32_t Gtid, void *Task, int32_t NDeps,
                                         void *Deps, int32_t NNoAlias, void *NoAlias,
                                         void *Entry) {
  (void)Ident;
  (void)NDeps;
  (void)Deps;
  (void)NNoAlias;
  (void)NoAlias;
  runTask(Gtid, Task, Entry);
  return 0;
}

int32_t __kmpc_omp_task(void *Ident, int32_t Gtid, void *Task) {
  (void)Ident;
  runTask(Gtid, Task, ((TaskRecord *)Task)->Entry);
  return 0;
}
INLINED_ENTRY int32_t __kmpc_omp_task_with_deps(void *Ident, int32_t Gtid, void *Task, int32_t NDeps,
                                  void *Deps, int32_t NNoAlias, void *NoAlias) {
  (void)NDeps;
  (void)Deps;
  (void)NNoAlias;
  (void)NoAlias;
  return __kmpc_omp_task(Ident, Gtid, Task);
}
// Undeferred tasks (if clause false): the compiler calls the entry itself between these two.
void __kmpc_omp_task_begin_if0(void *Ident, int32_t Gtid, void *Task) {
  (void)Ident;
  (void)Gtid;
  (void)Task;
}
void __kmpc_omp_task_complete_if0(void *Ident, int32_t Gtid, void *Task) {
  (void)Ident;
  (void)Gtid;
  (void)Task;
}
// Every task has finished when it was created.
int32_t __kmpc_omp_taskwait(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
  return 0;
}
void __kmpc_omp_wait_deps(void *Ident, int32_t Gtid, int32_t NDeps, void *Deps, int32_t NNoAlias,
                          void *NoAlias) {
  (void)Ident;
  (void)Gtid;
  (void)NDeps;
  (void)Deps;
  (void)NNoAlias;
  (void)NoAlias;
}
int32_t __kmpc_omp_taskyield(void *Ident, int32_t Gtid, int32_t EndPart) {
  (void)Ident;
  (void)Gtid;
  (void)EndPart;
  return 0;
}
void __kmpc_taskgroup(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}
void __kmpc_end_taskgroup(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}
