// Result checks of the OpenMP test programs: each failed check prints its line and what it
// expected; the program's exit status is the number of failed checks.
#ifndef OPENMP_CHECK_H
#define OPENMP_CHECK_H

#include <math.h>
#include <stdio.h>

static int Failures = 0;

#define CHECK_INT(Got, Want)                                                                       \
  do {                                                                                             \
    long long G_ = (long long)(Got), W_ = (long long)(Want);                                       \
    if (G_ != W_) {                                                                                \
      printf("%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #Got, G_, W_);             \
      ++Failures;                                                                                  \
    }                                                                                              \
  } while (0)

// Floating-point results within a relative tolerance (sums in another order).
#define CHECK_NEAR(Got, Want, Tolerance)                                                           \
  do {                                                                                             \
    double G_ = (double)(Got), W_ = (double)(Want);                                                \
    if (!(fabs(G_ - W_) <= (Tolerance) * fmax(1.0, fabs(W_)))) {                                   \
      printf("%s:%d: %s is %.17g, expected %.17g\n", __FILE__, __LINE__, #Got, G_, W_);           \
      ++Failures;                                                                                  \
    }                                                                                              \
  } while (0)

#endif
