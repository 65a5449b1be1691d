// Static schedules of worksharing loops and of distribute, in the four integer widths the
// compiler uses. Bounds are inclusive; the compiler loops from *Lower to *Upper (clamped by
// itself to the loop's last iteration) and, for chunked schedules, adds *Stride to both.
#include "devrt.h"

// Schedule kinds the compiler passes.
enum {
  SCHED_STATIC_CHUNKED = 33,
  SCHED_STATIC = 34,
  SCHED_DISTRIBUTE_STATIC_CHUNKED = 91,
  SCHED_DISTRIBUTE_STATIC = 92,
};

#define DEFINE_STATIC_INIT(Suffix, T, ST, UT)                                                      \
  INLINE void staticInit##Suffix(int32_t Sched, int32_t *LastIter, T *Lower, T *Upper,          \
                                   ST *Stride, ST Incr, ST Chunk, uint32_t Id, uint32_t Count) {  \
    T Lb = *Lower, Ub = *Upper;                                                                    \
    /* Iterations, counted without overflow in the unsigned type. */                              \
    UT Trip;                                                                                       \
    if (Incr > 0)                                                                                  \
      Trip = Ub < Lb ? 0 : (UT)((UT)Ub - (UT)Lb) / (UT)Incr + 1;                                   \
    else                                                                                           \
      Trip = Lb < Ub ? 0 : (UT)((UT)Lb - (UT)Ub) / (UT)(-Incr) + 1;                                \
    int Chunked = Sched == SCHED_STATIC_CHUNKED || Sched == SCHED_DISTRIBUTE_STATIC_CHUNKED;       \
    if (Chunked && Chunk > 0) {                                                                    \
      UT Span = (UT)Chunk * (UT)Incr;                                                              \
      *Lower = (T)((UT)Lb + Span * Id);                                                            \
      *Upper = (T)((UT)*Lower + Span - (UT)Incr);                                                  \
      *Stride = (ST)(Span * Count);                                                                \
      *LastIter = Trip > 0 && ((Trip - 1) / (UT)Chunk) % Count == Id;                              \
      return;                                                                                      \
    }                                                                                              \
    /* Unchunked: contiguous blocks, the first Trip % Count threads one iteration longer. */      \
    UT Small = Trip / Count, Extra = Trip % Count;                                                 \
    UT Mine = Small + (Id < Extra);                                                                \
    UT First = Small * Id + (Id < Extra ? Id : Extra);                                             \
    if (Mine == 0) {                                                                               \
      *Lower = (T)((UT)Ub + (UT)Incr);                                                             \
      *Upper = Ub;                                                                                 \
    } else {                                                                                       \
      *Lower = (T)((UT)Lb + First * (UT)Incr);                                                     \
      *Upper = (T)((UT)*Lower + (Mine - 1) * (UT)Incr);                                            \
    }                                                                                              \
    *Stride = (ST)(Trip * (UT)Incr);                                                               \
    *LastIter = Mine > 0 && First + Mine == Trip;                                                  \
  }                                                                                                \
  void __kmpc_for_static_init_##Suffix(void *Ident, int32_t Gtid, int32_t Sched,                 \
                                       int32_t *LastIter, T *Lower, T *Upper, ST *Stride,         \
                                       ST Incr, ST Chunk) {                                       \
    (void)Ident;                                                                                   \
    (void)Gtid;                                                                                    \
    staticInit##Suffix(Sched, LastIter, Lower, Upper, Stride, Incr, Chunk, ompThreadNum(),      \
                       ompNumThreads());                                                          \
  }                                                                                                \
  void __kmpc_distribute_static_init_##Suffix(void *Ident, int32_t Gtid, int32_t Sched,          \
                                              int32_t *LastIter, T *Lower, T *Upper,              \
                                              ST *Stride, ST Incr, ST Chunk) {                    \
    (void)Ident;                                                                                   \
    (void)Gtid;                                                                                    \
    staticInit##Suffix(Sched, LastIter, Lower, Upper, Stride, Incr, Chunk, hwTeamId(),          \
                       hwNumTeams());                                                             \
  }

DEFINE_STATIC_INIT(4, int32_t, int32_t, uint32_t)
DEFINE_STATIC_INIT(4u, uint32_t, int32_t, uint32_t)
DEFINE_STATIC_INIT(8, int64_t, int64_t, uint64_t)
DEFINE_STATIC_INIT(8u, uint64_t, int64_t, uint64_t)

void __kmpc_for_static_fini(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}
void __kmpc_distribute_static_fini(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}

// Dynamic, guided and runtime schedules: the team hands out chunks in order from a shared
// counter, each to the first thread that asks. The loop's set-up is written once per team,
// between barriers where the team runs together, so that no thread still takes chunks of the
// previous loop.
INLINE void dispatchInit(int64_t Lower, int64_t Upper, int64_t Incr, int64_t Chunk) {
  int Together = teamIsConverged();
  if (Together)
    hwBarrier();
  if (!Together || hwThreadId() == 0) {
    devrtTeam.DispatchLower = Lower;
    devrtTeam.DispatchUpper = Upper;
    devrtTeam.DispatchIncr = Incr;
    devrtTeam.DispatchChunk = Chunk > 0 ? Chunk : 1;
    devrtTeam.DispatchNext = 0;
  }
  if (Together)
    hwBarrier();
}

// The next chunk's inclusive bounds, or 0 when the loop is done. Bounds are kept as 64-bit
// values of the loop's type; Unsigned says how to compare them.
INLINE int dispatchNext(int Unsigned, int64_t *Lower, int64_t *Upper, int32_t *Last) {
  int64_t Lb = devrtTeam.DispatchLower, Ub = devrtTeam.DispatchUpper;
  int64_t Incr = devrtTeam.DispatchIncr, Chunk = devrtTeam.DispatchChunk;
  uint64_t Trip;
  if (Incr > 0)
    Trip = (Unsigned ? (uint64_t)Ub < (uint64_t)Lb : Ub < Lb)
               ? 0
               : ((uint64_t)Ub - (uint64_t)Lb) / (uint64_t)Incr + 1;
  else
    Trip = (Unsigned ? (uint64_t)Lb < (uint64_t)Ub : Lb < Ub)
               ? 0
               : ((uint64_t)Lb - (uint64_t)Ub) / (uint64_t)(-Incr) + 1;
  uint64_t Index = __atomic_fetch_add(&devrtTeam.DispatchNext, 1, __ATOMIC_RELAXED);
  uint64_t First = Index * (uint64_t)Chunk;
  if (First >= Trip)
    return 0;
  uint64_t Count = Trip - First < (uint64_t)Chunk ? Trip - First : (uint64_t)Chunk;
  *Lower = (int64_t)((uint64_t)Lb + First * (uint64_t)Incr);
  *Upper = (int64_t)((uint64_t)*Lower + (Count - 1) * (uint64_t)Incr);
  if (Last)
    *Last = First + Count == Trip;
  return 1;
}

#define DEFINE_DISPATCH(Suffix, T, ST, Unsigned)                                                   \
  void __kmpc_dispatch_init_##Suffix(void *Ident, int32_t Gtid, int32_t Sched, T Lower, T Upper, \
                                     ST Incr, ST Chunk) {                                         \
    (void)Ident;                                                                                   \
    (void)Gtid;                                                                                    \
    (void)Sched;                                                                                   \
    dispatchInit((int64_t)Lower, (int64_t)Upper, (int64_t)Incr, (int64_t)Chunk);                  \
  }                                                                                                \
  int32_t __kmpc_dispatch_next_##Suffix(void *Ident, int32_t Gtid, int32_t *Last, T *Lower,     \
                                        T *Upper, ST *Stride) {                                   \
    (void)Ident;                                                                                   \
    (void)Gtid;                                                                                    \
    int64_t L, U;                                                                                  \
    if (!dispatchNext(Unsigned, &L, &U, Last))                                                     \
      return 0;                                                                                    \
    *Lower = (T)L;                                                                                 \
    *Upper = (T)U;                                                                                 \
    *Stride = (ST)devrtTeam.DispatchIncr;                                                          \
    return 1;                                                                                      \
  }                                                                                                \
  void __kmpc_dispatch_fini_##Suffix(void *Ident, int32_t Gtid) {                                 \
    (void)Ident;                                                                                   \
    (void)Gtid;                                                                                    \
  }

DEFINE_DISPATCH(4, int32_t, int32_t, 0)
DEFINE_DISPATCH(4u, uint32_t, int32_t, 1)
DEFINE_DISPATCH(8, int64_t, int64_t, 0)
DEFINE_DISPATCH(8u, uint64_t, int64_t, 1)

void __kmpc_dispatch_deinit(void *Ident, int32_t Gtid) {
  (void)Ident;
  (void)Gtid;
}
