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
