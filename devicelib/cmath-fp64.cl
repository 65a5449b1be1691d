// Fallback for cl_tarno_devicelib_math_fp64: the double-precision C math functions device code
// calls, on the device's own built-ins.
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#define UNARY(name) double __devicelib_##name(double x) { return name(x); }
#define BINARY(name) double __devicelib_##name(double x, double y) { return name(x, y); }

UNARY(sin) UNARY(cos) UNARY(tan) UNARY(asin) UNARY(acos) UNARY(atan) UNARY(sinh) UNARY(cosh)
UNARY(tanh) UNARY(asinh) UNARY(acosh) UNARY(atanh) UNARY(exp) UNARY(exp2) UNARY(expm1)
UNARY(log) UNARY(log2) UNARY(log10) UNARY(log1p) UNARY(sqrt) UNARY(cbrt) UNARY(erf)
UNARY(erfc) UNARY(tgamma) UNARY(lgamma) UNARY(fabs) UNARY(floor) UNARY(ceil) UNARY(trunc)
UNARY(round) UNARY(rint)
BINARY(pow) BINARY(atan2) BINARY(fmod) BINARY(hypot) BINARY(fmin) BINARY(fmax) BINARY(fdim)
BINARY(copysign) BINARY(remainder) BINARY(nextafter)

double __devicelib_fma(double x, double y, double z) { return fma(x, y, z); }
double __devicelib_ldexp(double x, int e) { return ldexp(x, e); }
double __devicelib_frexp(double x, int *e) { return frexp(x, e); }
double __devicelib_modf(double x, double *i) { return modf(x, i); }
void __devicelib_sincos(double x, double *s, double *c) { *s = sincos(x, c); }
