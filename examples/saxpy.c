/* y = a * x + y over 10^7 floats (or the count given as the first argument), offloaded with one
 * combined construct; x goes to the device, y goes there and comes back. */
#include <stdlib.h>

#include "example_report.h"

int main(int argc, char **argv) {
  const long n = argc > 1 ? atol(argv[1]) : 10000000L;
  const float a = 2.5f;
  float *x = malloc(n * sizeof *x);
  float *y = malloc(n * sizeof *y);
  if (!x || !y || n <= 0) {
    fprintf(stderr, "saxpy: cannot allocate %ld floats\n", n);
    return 2;
  }
  for (long i = 0; i < n; ++i) {
    x[i] = (float)(i % 1000) * 0.25f;
    y[i] = (float)(i % 7) - 3.0f;
  }

  char where[32];
  example_where(omp_get_default_device(), where, sizeof where);
  double start = omp_get_wtime();
#pragma omp target teams distribute parallel for map(to : x[0:n]) map(tofrom : y[0:n])
  for (long i = 0; i < n; ++i)
    y[i] = a * x[i] + y[i];
  double milliseconds = (omp_get_wtime() - start) * 1e3;

  example_diff diff = {0};
  for (long i = 0; i < n; ++i) {
    float expected = a * ((float)(i % 1000) * 0.25f) + ((float)(i % 7) - 3.0f);
    example_compare(&diff, i, y[i], expected, 1e-6);
  }
  char what[64];
  snprintf(what, sizeof what, "%ld floats", n);
  int status = example_finish("saxpy", what, where, milliseconds, &diff);
  free(x);
  free(y);
  return status;
}
