// Floating-point atomic read-modify-write operations through compare-and-swap: SPIR-V without
// extensions has no floating-point atomics. omptarget-cc turns the compiler's atomicrmw
// instructions on float and double into calls of these (one per operation, type and address
// space); each returns the old value, as the instruction does.
#include "devrt.h"

#define COMBINE_fadd(A, B) ((A) + (B))
#define COMBINE_fsub(A, B) ((A) - (B))
#define COMBINE_fmin(A, B) ((B) < (A) ? (B) : (A))
#define COMBINE_fmax(A, B) ((B) > (A) ? (B) : (A))

#define DEFINE_FLOAT_ATOMIC(Op, T, Bits, Type, Space, SpaceName)                                   \
  T __devrt_atomic_##Op##_##Type##_##SpaceName(Space T *Address, T Value) {                       \
    Space Bits *Word = (Space Bits *)Address;                                                      \
    union {                                                                                        \
      Bits B;                                                                                      \
      T V;                                                                                         \
    } Old, New;                                                                                    \
    Old.B = __atomic_load_n(Word, __ATOMIC_RELAXED);                                               \
    do                                                                                             \
      New.V = COMBINE_##Op(Old.V, Value);                                                          \
    while (!__atomic_compare_exchange_n(Word, &Old.B, New.B, 0, __ATOMIC_SEQ_CST,                 \
                                        __ATOMIC_RELAXED));                                        \
    return Old.V;                                                                                  \
  }

#define DEFINE_SPACES(Op, T, Bits, Type)                                                           \
  DEFINE_FLOAT_ATOMIC(Op, T, Bits, Type, , p0)                                                     \
  DEFINE_FLOAT_ATOMIC(Op, T, Bits, Type, GLOBAL, p1)                                               \
  DEFINE_FLOAT_ATOMIC(Op, T, Bits, Type, LOCAL, p3)

#define DEFINE_TYPES(Op)                                                                           \
  DEFINE_SPACES(Op, float, uint32_t, float)                                                        \
  DEFINE_SPACES(Op, double, uint64_t, double)

DEFINE_TYPES(fadd)
DEFINE_TYPES(fsub)
DEFINE_TYPES(fmin)
DEFINE_TYPES(fmax)
