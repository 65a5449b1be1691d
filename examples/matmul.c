/* C = A * B for dense n x n matrices of doubles (default 384, or the size given): the two outer
 * loops collapsed into one iteration space shared by the teams and their threads. */
#include <stdlib.h>

#include "example_report.h"

int main(int argc, char **argv) {
  const long n = argc > 1 ? atol(argv[1]) : 384;
  double *a = malloc(n * n * sizeof *a);
  double *b = malloc(n * n * sizeof *b);
  double *c = malloc(n * n * sizeof *c);
  if (!a || !b || !c || n <= 0) {
    fprintf(stderr, "matmul: cannot allocate three %ld x %ld matrices\n", n, n);
    return 2;
  }
  for (long i = 0; i < n * n; ++i) {
    a[i] = (double)(i % 13) - 6.0;
    b[i] = (double)(i % 7) * 0.5;
  }

  char where[32];
  example_where(omp_get_default_device(), where, sizeof where);
  double start = omp_get_wtime();
#pragma omp target teams distribute parallel for collapse(2) map(to : a[0:n * n], b[0:n * n]) \
    map(from : c[0:n * n])
  for (long i = 0; i < n; ++i)
    for (long j = 0; j < n; ++j) {
      double sum = 0.0;
      for (long k = 0; k < n; ++k)
        sum += a[i * n + k] * b[k * n + j];
      c[i * n + j] = sum;
    }
  double milliseconds = (omp_get_wtime() - start) * 1e3;

  /* Small integers and halves: every product and partial sum is exact, on any device. */
  example_diff diff = {0};
  for (long i = 0; i < n; ++i)
    for (long j = 0; j < n; ++j) {
      double sum = 0.0;
      for (long k = 0; k < n; ++k)
        sum += a[i * n + k] * b[k * n + j];
      example_compare(&diff, i * n + j, c[i * n + j], sum, 0.0);
    }
  char what[64];
  snprintf(what, sizeof what, "%ld x %ld doubles", n, n);
  int status = example_finish("matmul", what, where, milliseconds, &diff);
  free(a);
  free(b);
  free(c);
  return status;
}
