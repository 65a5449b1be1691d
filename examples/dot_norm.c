/* A dot product, a Euclidean norm and a maximum norm as reductions across teams and threads, the
 * vectors mapped once for all three (default 4 * 10^6 doubles, or the count given). */
#include <stdlib.h>

#include "example_report.h"

int main(int argc, char **argv) {
  const long n = argc > 1 ? atol(argv[1]) : 4000000L;
  double *x = malloc(n * sizeof *x);
  double *y = malloc(n * sizeof *y);
  if (!x || !y || n <= 0) {
    fprintf(stderr, "dot_norm: cannot allocate %ld doubles\n", n);
    return 2;
  }
  for (long i = 0; i < n; ++i) {
    x[i] = (double)((i * 37) % 1001) / 1000.0 - 0.5;
    y[i] = (double)((i * 11) % 97) / 97.0;
  }

  char where[32];
  example_where(omp_get_default_device(), where, sizeof where);
  double dot = 0.0, squares = 0.0, largest = 0.0;
  double start = omp_get_wtime();
#pragma omp target data map(to : x[0:n], y[0:n])
  {
#pragma omp target teams distribute parallel for reduction(+ : dot) map(tofrom : dot)
    for (long i = 0; i < n; ++i)
      dot += x[i] * y[i];
#pragma omp target teams distribute parallel for reduction(+ : squares) map(tofrom : squares)
    for (long i = 0; i < n; ++i)
      squares += x[i] * x[i];
#pragma omp target teams distribute parallel for reduction(max : largest) map(tofrom : largest)
    for (long i = 0; i < n; ++i)
      largest = fabs(x[i]) > largest ? fabs(x[i]) : largest;
  }
  double norm = sqrt(squares);
  double milliseconds = (omp_get_wtime() - start) * 1e3;

  double host_dot = 0.0, host_squares = 0.0, host_largest = 0.0;
  for (long i = 0; i < n; ++i) {
    host_dot += x[i] * y[i];
    host_squares += x[i] * x[i];
    host_largest = fabs(x[i]) > host_largest ? fabs(x[i]) : host_largest;
  }
  /* Partial sums in another order differ in their last bits; the maximum is exact. */
  example_diff diff = {0};
  example_compare(&diff, 0, dot, host_dot, 1e-9);
  example_compare(&diff, 1, norm, sqrt(host_squares), 1e-9);
  example_compare(&diff, 2, largest, host_largest, 0.0);
  char what[128];
  snprintf(what, sizeof what, "%ld doubles, dot %.6f, norm %.6f, max norm %.6f", n, dot, norm,
           largest);
  int status = example_finish("dot_norm", what, where, milliseconds, &diff);
  free(x);
  free(y);
  return status;
}
