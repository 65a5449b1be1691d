/* Two independent regions launched with `nowait`, one smoothing a signal and one squaring
 * another, while the host thread goes on; `taskwait` waits for both before their results are
 * read. Default 2 * 10^6 doubles each, or the count given. */
#include <stdlib.h>

#include "example_report.h"

int main(int argc, char **argv) {
  const long n = argc > 1 ? atol(argv[1]) : 2000000L;
  double *signal = malloc(n * sizeof *signal);
  double *smooth = malloc(n * sizeof *smooth);
  double *values = malloc(n * sizeof *values);
  double *squares = malloc(n * sizeof *squares);
  if (!signal || !smooth || !values || !squares || n < 3) {
    fprintf(stderr, "nowait: cannot allocate four times %ld doubles\n", n);
    return 2;
  }
  for (long i = 0; i < n; ++i) {
    signal[i] = (double)((i * 7919) % 1000) / 10.0;
    values[i] = (double)(i % 4096) / 64.0;
  }

  char where[32];
  example_where(omp_get_default_device(), where, sizeof where);
  double start = omp_get_wtime();
#pragma omp target teams distribute parallel for nowait map(to : signal[0:n]) map(from : smooth[0:n])
  for (long i = 0; i < n; ++i)
    smooth[i] = i == 0 || i == n - 1 ? signal[i] : (signal[i - 1] + signal[i] + signal[i + 1]) / 3.0;
#pragma omp target teams distribute parallel for nowait map(to : values[0:n]) map(from : squares[0:n])
  for (long i = 0; i < n; ++i)
    squares[i] = values[i] * values[i];
#pragma omp taskwait
  double milliseconds = (omp_get_wtime() - start) * 1e3;

  example_diff diff = {0};
  for (long i = 0; i < n; ++i) {
    double expected =
        i == 0 || i == n - 1 ? signal[i] : (signal[i - 1] + signal[i] + signal[i + 1]) / 3.0;
    example_compare(&diff, i, smooth[i], expected, 1e-15);
    example_compare(&diff, n + i, squares[i], values[i] * values[i], 0.0);
  }
  char what[64];
  snprintf(what, sizeof what, "two regions of %ld doubles", n);
  int status = example_finish("nowait", what, where, milliseconds, &diff);
  free(signal);
  free(smooth);
  free(values);
  free(squares);
  return status;
}
