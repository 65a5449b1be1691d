// Floating-point atomic read-modify-write operations: SPIR-V without extensions has none.
// omptarget-cc turns the compiler's atomicrmw instructions on float and double into calls of
// these (one per operation, type and address space); each returns the old value, as the
// instruction does. The update is made under one of 64 locks chosen by the address (see
// lockGlobal for why not compare-and-swap).
#include "devrt.h"

#define COMBINE_fadd(A, B) ((A) + (B))
#define COMBINE_fsub(A, B) ((A) - (B))
#define COMBINE_fmin(A, B) ((B) < (A) ? (B) : (A))
#define COMBINE_fmax(A, B) ((B) > (A) ? (B) : (A))

static GLOBAL uint32_t Locks[64];

INLINE GLOBAL uint32_t *lockOf(uintptr_t Address) { return &Locks[(Address >> 3) % 64]; }

#define DEFINE_FLOAT_ATOMIC(Op, T, Bits, Type, Space, SpaceName)                                   \
  T __devrt_atomic_##Op##_##Type##_##SpaceName(Space T *Address, T Value) {                       \
    volatile Space T *Target = Address;                                                            \
    GLOBAL uint32_t *Lock = lockOf((uintptr_t)Address);                                            \
    lockGlobal(Lock);                                                                              \
    T Old = *Target;                                                                               \
    *Target = COMBINE_##Op(Old, Value);                                                            \
    unlockGlobal(Lock);                                                                            \
    return Old;                                                                                    \
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
