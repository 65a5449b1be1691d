// Fallback for cl_tarno_devicelib_complex_fp64: double-precision complex arithmetic, a complex
// number being (real, imaginary) in a double2.
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
double __devicelib_cabs(double2 z) { return hypot(z.x, z.y); }
double __devicelib_carg(double2 z) { return atan2(z.y, z.x); }
double2 __devicelib_conj(double2 z) { return (double2)(z.x, -z.y); }
double2 __devicelib_muldc3(double a, double b, double c, double d) {
  return (double2)(a * c - b * d, a * d + b * c);
}
double2 __devicelib_divdc3(double a, double b, double c, double d) {
  double n = c * c + d * d;
  return (double2)((a * c + b * d) / n, (b * c - a * d) / n);
}
double2 __devicelib_cexp(double2 z) {
  double m = exp(z.x);
  return (double2)(m * cos(z.y), m * sin(z.y));
}
double2 __devicelib_clog(double2 z) { return (double2)(log(hypot(z.x, z.y)), atan2(z.y, z.x)); }
double2 __devicelib_csqrt(double2 z) {
  double m = sqrt(hypot(z.x, z.y));
  double a = 0.5 * atan2(z.y, z.x);
  return (double2)(m * cos(a), m * sin(a));
}
