// Fallback for cl_tarno_devicelib_math: the single-precision C math functions device code calls,
// on the device's own built-ins.
#include "math_functions.h"

#define UNARY(name) float __devicelib_##name##f(float x) { return name(x); }
#define BINARY(name) float __devicelib_##name##f(float x, float y) { return name(x, y); }

DEVICELIB_MATH_FUNCTIONS(UNARY, BINARY)

float __devicelib_fmaf(float x, float y, float z) { return fma(x, y, z); }
float __devicelib_ldexpf(float x, int e) { return ldexp(x, e); }
float __devicelib_frexpf(float x, int *e) { return frexp(x, e); }
float __devicelib_modff(float x, float *i) { return modf(x, i); }
void __devicelib_sincosf(float x, float *s, float *c) { *s = sincos(x, c); }
