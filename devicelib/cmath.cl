// Fallback for cl_tarno_devicelib_math: the single-precision C math functions device code calls,
// on the device's own built-ins.
#define UNARY(name) float __devicelib_##name##f(float x) { return name(x); }
#define BINARY(name) float __devicelib_##name##f(float x, float y) { return name(x, y); }

UNARY(sin) UNARY(cos) UNARY(tan) UNARY(asin) UNARY(acos) UNARY(atan) UNARY(sinh) UNARY(cosh)
UNARY(tanh) UNARY(asinh) UNARY(acosh) UNARY(atanh) UNARY(exp) UNARY(exp2) UNARY(expm1)
UNARY(log) UNARY(log2) UNARY(log10) UNARY(log1p) UNARY(sqrt) UNARY(cbrt) UNARY(erf)
UNARY(erfc) UNARY(tgamma) UNARY(lgamma) UNARY(fabs) UNARY(floor) UNARY(ceil) UNARY(trunc)
UNARY(round) UNARY(rint)
BINARY(pow) BINARY(atan2) BINARY(fmod) BINARY(hypot) BINARY(fmin) BINARY(fmax) BINARY(fdim)
BINARY(copysign) BINARY(remainder) BINARY(nextafter)

float __devicelib_fmaf(float x, float y, float z) { return fma(x, y, z); }
float __devicelib_ldexpf(float x, int e) { return ldexp(x, e); }
float __devicelib_frexpf(float x, int *e) { return frexp(x, e); }
float __devicelib_modff(float x, float *i) { return modf(x, i); }
void __devicelib_sincosf(float x, float *s, float *c) { *s = sincos(x, c); }
