// Fallback for cl_tarno_devicelib_math_fp64: the double-precision C math functions device code
// calls, on the device's own built-ins.
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#include "math_functions.h"

#define UNARY(name) double __devicelib_##name(double x) { return name(x); }
#define BINARY(name) double __devicelib_##name(double x, double y) { return name(x, y); }

DEVICELIB_MATH_FUNCTIONS(UNARY, BINARY)

double __devicelib_fma(double x, double y, double z) { return fma(x, y, z); }
double __devicelib_ldexp(double x, int e) { return ldexp(x, e); }
double __devicelib_frexp(double x, int *e) { return frexp(x, e); }
double __devicelib_modf(double x, double *i) { return modf(x, i); }
void __devicelib_sincos(double x, double *s, double *c) { *s = sincos(x, c); }
