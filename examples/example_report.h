/* What every example shares: where its regions ran, a clock, a tolerance and the one line it
 * prints. The line's form is fixed, because the benchmark reads the time back from it:
 *   <name>: <what was computed>, <where>, <time> ms, verified against the host
 * and when a value differs from the host's:
 *   <name>: WRONG, <count> values differ from the host, the first at <index>: <got> != <expected>
 */
#ifndef EXAMPLE_REPORT_H
#define EXAMPLE_REPORT_H

#include <math.h>
#include <omp.h>
#include <stdio.h>

/* "device N" when a target region on that device really runs there, "the host" when the
 * runtime fell back (no device, or OMP_TARGET_OFFLOAD=DISABLED). */
static inline const char *example_where(int device, char *text, size_t size) {
  int on_host = 1;
#pragma omp target device(device) map(from : on_host)
  on_host = omp_is_initial_device();
  if (on_host)
    snprintf(text, size, "on the host");
  else
    snprintf(text, size, "on device %d", device);
  return text;
}

/* Device and host may sum in another order or contract a multiply-add; both results must agree
 * to a few units of the value's own size. */
static inline int example_close(double got, double expected, double tolerance) {
  return fabs(got - expected) <= tolerance * (1.0 + fabs(expected));
}

/* The differences found so far: how many, and the first one. */
typedef struct {
  long wrong;
  long first;
  double got;
  double expected;
} example_diff;

static inline void example_compare(example_diff *diff, long index, double got, double expected,
                                   double tolerance) {
  if (example_close(got, expected, tolerance))
    return;
  if (diff->wrong++ == 0) {
    diff->first = index;
    diff->got = got;
    diff->expected = expected;
  }
}

/* Prints the example's line; returns the process's exit status. */
static inline int example_finish(const char *name, const char *what, const char *where,
                                 double milliseconds, const example_diff *diff) {
  if (diff->wrong) {
    printf("%s: WRONG, %ld values differ from the host, the first at %ld: %.17g != %.17g\n", name,
           diff->wrong, diff->first, diff->got, diff->expected);
    return 1;
  }
  printf("%s: %s, %s, %.3f ms, verified against the host\n", name, what, where, milliseconds);
  return 0;
}

#endif
