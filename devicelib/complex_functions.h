// Complex arithmetic for both precisions, a complex number being (real, imaginary) in a pair
// vector. REAL and PAIR are the scalar and pair types, F the suffix of the C functions' names
// (f or nothing) and C3 the suffix of the multiply and divide helpers (sc3 or dc3).
#define DEVICELIB_COMPLEX_FUNCTIONS(REAL, PAIR, F, C3)                                             \
  REAL __devicelib_cabs##F(PAIR z) { return hypot(z.x, z.y); }                                   \
  REAL __devicelib_carg##F(PAIR z) { return atan2(z.y, z.x); }                                   \
  PAIR __devicelib_conj##F(PAIR z) { return (PAIR)(z.x, -z.y); }                                 \
  PAIR __devicelib_mul##C3(REAL a, REAL b, REAL c, REAL d) {                                     \
    return (PAIR)(a * c - b * d, a * d + b * c);                                                 \
  }                                                                                              \
  PAIR __devicelib_div##C3(REAL a, REAL b, REAL c, REAL d) {                                     \
    REAL n = c * c + d * d;                                                                      \
    return (PAIR)((a * c + b * d) / n, (b * c - a * d) / n);                                     \
  }                                                                                              \
  PAIR __devicelib_cexp##F(PAIR z) {                                                             \
    REAL m = exp(z.x);                                                                           \
    return (PAIR)(m * cos(z.y), m * sin(z.y));                                                   \
  }                                                                                              \
  PAIR __devicelib_clog##F(PAIR z) { return (PAIR)(log(hypot(z.x, z.y)), atan2(z.y, z.x)); }    \
  PAIR __devicelib_csqrt##F(PAIR z) {                                                            \
    REAL m = sqrt(hypot(z.x, z.y));                                                              \
    REAL a = atan2(z.y, z.x) / 2;                                                                \
    return (PAIR)(m * cos(a), m * sin(a));                                                       \
  }
