// Fallback for cl_tarno_devicelib_complex: single-precision complex arithmetic, a complex number
// being (real, imaginary) in a float2.
float __devicelib_cabsf(float2 z) { return hypot(z.x, z.y); }
float __devicelib_cargf(float2 z) { return atan2(z.y, z.x); }
float2 __devicelib_conjf(float2 z) { return (float2)(z.x, -z.y); }
float2 __devicelib_mulsc3(float a, float b, float c, float d) {
  return (float2)(a * c - b * d, a * d + b * c);
}
float2 __devicelib_divsc3(float a, float b, float c, float d) {
  float n = c * c + d * d;
  return (float2)((a * c + b * d) / n, (b * c - a * d) / n);
}
float2 __devicelib_cexpf(float2 z) {
  float m = exp(z.x);
  return (float2)(m * cos(z.y), m * sin(z.y));
}
float2 __devicelib_clogf(float2 z) { return (float2)(log(hypot(z.x, z.y)), atan2(z.y, z.x)); }
float2 __devicelib_csqrtf(float2 z) {
  float m = sqrt(hypot(z.x, z.y));
  float a = 0.5f * atan2(z.y, z.x);
  return (float2)(m * cos(a), m * sin(a));
}
