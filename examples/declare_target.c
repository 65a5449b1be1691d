/* A region calling a function compiled for the device too, which reads two tables that live on
 * the device for the whole program: polynomial coefficients with their values in the program
 * image, and weights the host fills at run time and sends with `target update`. Default 10^6
 * points, or the count given. */
#include <stdlib.h>

#include "example_report.h"

#define WEIGHTS 256

#pragma omp declare target
double coefficients[6] = {1.0, -0.5, 0.25, -0.125, 0.0625, -0.03125};
double weights[WEIGHTS];

/* Horner's rule over the coefficient table, scaled by one weight. */
double shaped(double x, int bucket) {
  double sum = 0.0;
  for (int k = 5; k >= 0; --k)
    sum = sum * x + coefficients[k];
  return sum * weights[bucket];
}
#pragma omp end declare target

int main(int argc, char **argv) {
  const long n = argc > 1 ? atol(argv[1]) : 1000000L;
  double *x = malloc(n * sizeof *x);
  double *out = malloc(n * sizeof *out);
  if (!x || !out || n <= 0) {
    fprintf(stderr, "declare_target: cannot allocate %ld doubles\n", n);
    return 2;
  }
  for (long i = 0; i < n; ++i)
    x[i] = (double)(i % 2001) / 1000.0 - 1.0;
  for (int k = 0; k < WEIGHTS; ++k)
    weights[k] = 1.0 + (double)k / WEIGHTS;

  char where[32];
  example_where(omp_get_default_device(), where, sizeof where);
  double start = omp_get_wtime();
#pragma omp target update to(weights)
#pragma omp target teams distribute parallel for map(to : x[0:n]) map(from : out[0:n])
  for (long i = 0; i < n; ++i)
    out[i] = shaped(x[i], (int)(i % WEIGHTS));
  double milliseconds = (omp_get_wtime() - start) * 1e3;

  example_diff diff = {0};
  for (long i = 0; i < n; ++i)
    example_compare(&diff, i, out[i], shaped(x[i], (int)(i % WEIGHTS)), 1e-14);
  char what[64];
  snprintf(what, sizeof what, "%ld points, %d weights", n, WEIGHTS);
  int status = example_finish("declare_target", what, where, milliseconds, &diff);
  free(x);
  free(out);
  return status;
}
