// Complex arithmetic for both precisions, a complex number being (real, imaginary) in a pair
// vector. REAL and PAIR are the scalar and pair types, F the suffix of the C functions' names
// (f or nothing) and C3 the suffix of the multiply and divide helpers (sc3 or dc3).
#define DEVICELIB_COMPLEX_FUNCTIONS(REAL, PAIR, F, C3)                                             \
  REAL __devicelib_cabs##F(PAIR z) { return hypot(z.x, z.y); }                                   \
  REAL __devicelib_carg##F(PAIR z) { return atan2(z.y, z.x); }                                   \
  PAIR __devicelib_conj##F(PAIR z) { return (PAIR)(z.x, -z.y); }                                 \
  /* Multiplication and division as C's Annex G defines them: a product or quotient that the */ \
  /* plain formulas make NaN in both parts is recovered as an infinity or a zero when one     */ \
  /* operand is infinite (or the divisor zero), and division scales the divisor first so that */ \
  /* c * c + d * d neither overflows nor underflows.                                          */ \
  PAIR __devicelib_mul##C3(REAL a, REAL b, REAL c, REAL d) {                                     \
    REAL ac = a * c, bd = b * d, ad = a * d, bc = b * c;                                         \
    REAL x = ac - bd, y = ad + bc;                                                               \
    if (isnan(x) && isnan(y)) {                                                                  \
      int again = 0;                                                                             \
      if (isinf(a) || isinf(b)) {                                                                \
        a = copysign(isinf(a) ? (REAL)1 : (REAL)0, a);                                           \
        b = copysign(isinf(b) ? (REAL)1 : (REAL)0, b);                                           \
        c = isnan(c) ? copysign((REAL)0, c) : c;                                                 \
        d = isnan(d) ? copysign((REAL)0, d) : d;                                                 \
        again = 1;                                                                               \
      }                                                                                          \
      if (isinf(c) || isinf(d)) {                                                                \
        c = copysign(isinf(c) ? (REAL)1 : (REAL)0, c);                                           \
        d = copysign(isinf(d) ? (REAL)1 : (REAL)0, d);                                           \
        a = isnan(a) ? copysign((REAL)0, a) : a;                                                 \
        b = isnan(b) ? copysign((REAL)0, b) : b;                                                 \
        again = 1;                                                                               \
      }                                                                                          \
      if (!again && (isinf(ac) || isinf(bd) || isinf(ad) || isinf(bc))) {                        \
        a = isnan(a) ? copysign((REAL)0, a) : a;                                                 \
        b = isnan(b) ? copysign((REAL)0, b) : b;                                                 \
        c = isnan(c) ? copysign((REAL)0, c) : c;                                                 \
        d = isnan(d) ? copysign((REAL)0, d) : d;                                                 \
        again = 1;                                                                               \
      }                                                                                          \
      if (again) {                                                                               \
        x = (REAL)INFINITY * (a * c - b * d);                                                    \
        y = (REAL)INFINITY * (a * d + b * c);                                                    \
      }                                                                                          \
    }                                                                                            \
    return (PAIR)(x, y);                                                                         \
  }                                                                                              \
  PAIR __devicelib_div##C3(REAL a, REAL b, REAL c, REAL d) {                                     \
    int scale = 0;                                                                               \
    REAL logbw = logb(fmax(fabs(c), fabs(d)));                                                   \
    if (isfinite(logbw)) {                                                                       \
      scale = (int)logbw;                                                                        \
      c = ldexp(c, -scale);                                                                      \
      d = ldexp(d, -scale);                                                                      \
    }                                                                                            \
    REAL n = c * c + d * d;                                                                      \
    REAL x = ldexp((a * c + b * d) / n, -scale);                                                 \
    REAL y = ldexp((b * c - a * d) / n, -scale);                                                 \
    if (isnan(x) && isnan(y)) {                                                                  \
      if (n == (REAL)0 && (!isnan(a) || !isnan(b))) {                                            \
        x = copysign((REAL)INFINITY, c) * a;                                                     \
        y = copysign((REAL)INFINITY, c) * b;                                                     \
      } else if ((isinf(a) || isinf(b)) && isfinite(c) && isfinite(d)) {                         \
        a = copysign(isinf(a) ? (REAL)1 : (REAL)0, a);                                           \
        b = copysign(isinf(b) ? (REAL)1 : (REAL)0, b);                                           \
        x = (REAL)INFINITY * (a * c + b * d);                                                    \
        y = (REAL)INFINITY * (b * c - a * d);                                                    \
      } else if (isinf(logbw) && logbw > (REAL)0 && isfinite(a) && isfinite(b)) {                \
        c = copysign(isinf(c) ? (REAL)1 : (REAL)0, c);                                           \
        d = copysign(isinf(d) ? (REAL)1 : (REAL)0, d);                                           \
        x = (REAL)0 * (a * c + b * d);                                                           \
        y = (REAL)0 * (b * c - a * d);                                                           \
      }                                                                                          \
    }                                                                                            \
    return (PAIR)(x, y);                                                                         \
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
