// The C math functions the math fallback libraries provide, in both precisions: one-argument and
// two-argument ones, each passed to the caller's macro.
#define DEVICELIB_MATH_FUNCTIONS(UNARY, BINARY)                                                    \
  UNARY(sin) UNARY(cos) UNARY(tan) UNARY(asin) UNARY(acos) UNARY(atan) UNARY(sinh) UNARY(cosh)     \
  UNARY(tanh) UNARY(asinh) UNARY(acosh) UNARY(atanh) UNARY(exp) UNARY(exp2) UNARY(expm1)         \
  UNARY(log) UNARY(log2) UNARY(log10) UNARY(log1p) UNARY(sqrt) UNARY(cbrt) UNARY(erf)            \
  UNARY(erfc) UNARY(tgamma) UNARY(lgamma) UNARY(fabs) UNARY(floor) UNARY(ceil) UNARY(trunc)      \
  UNARY(round) UNARY(rint)                                                                       \
  BINARY(pow) BINARY(atan2) BINARY(fmod) BINARY(hypot) BINARY(fmin) BINARY(fmax) BINARY(fdim)    \
  BINARY(copysign) BINARY(remainder) BINARY(nextafter)
