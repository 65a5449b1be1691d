// Calls every function of the fallback device libraries, so that a test can compare each result
// with the host's C library.
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#include "math_functions.h"

#define DECLARE_F(name) float __devicelib_##name##f(float);
#define DECLARE_F2(name) float __devicelib_##name##f(float, float);
#define DECLARE_D(name) double __devicelib_##name(double);
#define DECLARE_D2(name) double __devicelib_##name(double, double);
DEVICELIB_MATH_FUNCTIONS(DECLARE_F, DECLARE_F2)
DEVICELIB_MATH_FUNCTIONS(DECLARE_D, DECLARE_D2)

// Every one- and two-argument function at (x, y), in list order.
kernel void math_float(global float *out, float x, float y) {
  int i = 0;
#define CALL_F(name) out[i++] = __devicelib_##name##f(x);
#define CALL_F2(name) out[i++] = __devicelib_##name##f(x, y);
  DEVICELIB_MATH_FUNCTIONS(CALL_F, CALL_F2)
}

kernel void math_double(global double *out, double x, double y) {
  int i = 0;
#define CALL_D(name) out[i++] = __devicelib_##name(x);
#define CALL_D2(name) out[i++] = __devicelib_##name(x, y);
  DEVICELIB_MATH_FUNCTIONS(CALL_D, CALL_D2)
}

// The remaining math functions and the complex ones, with z = (x, y) and w = (u, v): fma(x, y, u),
// ldexp(x, 3), frexp(x) and its exponent, modf(x) and its integral part, sincos(x), |z|, arg z,
// conj z, z * w, z / w, exp z, log z, sqrt z.
#define OTHER_FUNCTIONS(REAL, PAIR, F, C3)                                                         \
  REAL __devicelib_fma##F(REAL, REAL, REAL);                                                       \
  REAL __devicelib_ldexp##F(REAL, int);                                                            \
  REAL __devicelib_frexp##F(REAL, int *);                                                          \
  REAL __devicelib_modf##F(REAL, REAL *);                                                          \
  void __devicelib_sincos##F(REAL, REAL *, REAL *);                                                \
  REAL __devicelib_cabs##F(PAIR);                                                                  \
  REAL __devicelib_carg##F(PAIR);                                                                  \
  PAIR __devicelib_conj##F(PAIR);                                                                  \
  PAIR __devicelib_mul##C3(REAL, REAL, REAL, REAL);                                                \
  PAIR __devicelib_div##C3(REAL, REAL, REAL, REAL);                                                \
  PAIR __devicelib_cexp##F(PAIR);                                                                  \
  PAIR __devicelib_clog##F(PAIR);                                                                  \
  PAIR __devicelib_csqrt##F(PAIR);                                                                 \
  kernel void others_##REAL(global REAL *out, REAL x, REAL y, REAL u, REAL v) {                    \
    PAIR z = (PAIR)(x, y);                                                                         \
    PAIR r[6] = {__devicelib_conj##F(z),      __devicelib_mul##C3(x, y, u, v),                     \
                 __devicelib_div##C3(x, y, u, v), __devicelib_cexp##F(z),                          \
                 __devicelib_clog##F(z),      __devicelib_csqrt##F(z)};                            \
    int e = 0;                                                                                     \
    REAL p = 0, q = 0;                                                                             \
    out[0] = __devicelib_fma##F(x, y, u);                                                          \
    out[1] = __devicelib_ldexp##F(x, 3);                                                           \
    out[2] = __devicelib_frexp##F(x, &e);                                                          \
    out[3] = e;                                                                                    \
    out[4] = __devicelib_modf##F(x, &p);                                                           \
    out[5] = p;                                                                                    \
    __devicelib_sincos##F(x, &p, &q);                                                              \
    out[6] = p;                                                                                    \
    out[7] = q;                                                                                    \
    out[8] = __devicelib_cabs##F(z);                                                               \
    out[9] = __devicelib_carg##F(z);                                                               \
    for (int k = 0; k < 6; ++k) {                                                                  \
      out[10 + 2 * k] = r[k].x;                                                                    \
      out[11 + 2 * k] = r[k].y;                                                                    \
    }                                                                                              \
  }
OTHER_FUNCTIONS(float, float2, f, sc3)
OTHER_FUNCTIONS(double, double2, , dc3)

// For the n operand quadruples (a, b, c, d) in in: (a + bi)(c + di) and (a + bi) / (c + di), as
// four values per quadruple, the operands' special values included.
#define SPECIAL_VALUES(REAL, PAIR, C3)                                                             \
  kernel void complex_special_##REAL(global REAL *out, global const REAL *in, int n) {             \
    for (int k = 0; k < n; ++k) {                                                                  \
      global const REAL *v = in + 4 * k;                                                           \
      PAIR p = __devicelib_mul##C3(v[0], v[1], v[2], v[3]);                                        \
      PAIR q = __devicelib_div##C3(v[0], v[1], v[2], v[3]);                                        \
      out[4 * k] = p.x;                                                                            \
      out[4 * k + 1] = p.y;                                                                        \
      out[4 * k + 2] = q.x;                                                                        \
      out[4 * k + 3] = q.y;                                                                        \
    }                                                                                              \
  }
SPECIAL_VALUES(float, float2, sc3)
SPECIAL_VALUES(double, double2, dc3)

void *__devicelib_memcpy(void *, const void *, ulong);
void *__devicelib_memset(void *, int, ulong);
int __devicelib_memcmp(const void *, const void *, ulong);

// Sets out[1..3] to 0x5A, copies "abc" to out[4..6], and compares "abc" with "abd" both ways and
// over their first two bytes.
kernel void strings(global uchar *out, global int *cmp) {
  uchar text[4] = {'a', 'b', 'c', 'd'}, other[4] = {'a', 'b', 'd', 'c'};
  __devicelib_memset(out + 1, 0x5A, 3);
  __devicelib_memcpy(out + 4, text, 3);
  cmp[0] = __devicelib_memcmp(text, other, 3);
  cmp[1] = __devicelib_memcmp(other, text, 3);
  cmp[2] = __devicelib_memcmp(text, other, 2);
}
