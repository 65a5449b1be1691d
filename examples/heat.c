/* Heat spreading over a square plate whose top edge is held hot: Jacobi steps of the 2-D
 * Laplace stencil. The grids stay on the device for the whole run (`target data`); every
 * `every` steps `target update` brings the current grid back and it is compared with the host's
 * own run at the same step. With two or more devices the plate's rows are split between device 0
 * and device 1, one host thread driving each, and the rows along the cut are exchanged through
 * the host after every step.
 * Arguments: grid size (default 512), steps (default 400), steps between copies (default 100). */
#include <stdlib.h>
#include <string.h>

#include "example_report.h"

/* One Jacobi step over rows [lo, hi) of an n x n grid, on the host. */
static void host_step(const double *cur, double *nxt, long n, long lo, long hi) {
  for (long i = lo; i < hi; ++i)
    for (long j = 1; j < n - 1; ++j)
      nxt[i * n + j] =
          0.25 * (cur[(i - 1) * n + j] + cur[(i + 1) * n + j] + cur[i * n + j - 1] + cur[i * n + j + 1]);
}

static void initial_plate(double *grid, long n) {
  memset(grid, 0, n * n * sizeof *grid);
  for (long j = 0; j < n; ++j)
    grid[j] = 100.0;
}

int main(int argc, char **argv) {
  const long n = argc > 1 ? atol(argv[1]) : 512;
  const int steps = argc > 2 ? atoi(argv[2]) : 400;
  const int every = argc > 3 ? atoi(argv[3]) : 100;
  const int checks = every > 0 ? steps / every : 0;
  if (n < 4 || steps < 1 || every < 1 || checks < 1) {
    fprintf(stderr, "heat: needs a grid of at least 4 and at least one copy back\n");
    return 2;
  }
  double *u = malloc(n * n * sizeof *u);
  double *v = malloc(n * n * sizeof *v);
  /* The host's run, kept at every step the device's grid is compared at. */
  double *snapshots = malloc((size_t)checks * n * n * sizeof *snapshots);
  double *a = malloc(n * n * sizeof *a);
  double *b = malloc(n * n * sizeof *b);
  if (!u || !v || !snapshots || !a || !b) {
    fprintf(stderr, "heat: cannot allocate the grids\n");
    return 2;
  }
  initial_plate(a, n);
  initial_plate(b, n);
  for (int step = 1; step <= steps; ++step) {
    host_step(a, b, n, 1, n - 1);
    double *t = a;
    a = b;
    b = t;
    if (step % every == 0 && step / every <= checks)
      memcpy(snapshots + (size_t)(step / every - 1) * n * n, a, n * n * sizeof *a);
  }
  initial_plate(u, n);
  initial_plate(v, n);

  int devices = omp_get_num_devices() >= 2 ? 2 : 1;
  char where[64];
  if (devices == 2) {
    char second[32];
    example_where(1, second, sizeof second);
    example_where(0, where, sizeof where);
    strncat(where, " and ", sizeof where - strlen(where) - 1);
    strncat(where, second + 3, sizeof where - strlen(where) - 1);
  } else {
    example_where(omp_get_default_device(), where, sizeof where);
  }
  example_diff diffs[2] = {{0}, {0}};

  double start = omp_get_wtime();
#pragma omp parallel num_threads(devices)
  {
    const int d = omp_get_thread_num();
    const int device = devices == 2 ? d : omp_get_default_device();
    /* Interior rows [lo, hi) are this device's; it also holds the row on either side. */
    const long interior = n - 2;
    const long lo = 1 + interior * d / devices, hi = 1 + interior * (d + 1) / devices;
    const long first = (lo - 1) * n, count = (hi - lo + 2) * n;
    double *cur = u, *nxt = v;
#pragma omp target data device(device) map(to : u[first:count], v[first:count])
    for (int step = 1; step <= steps; ++step) {
#pragma omp target teams distribute parallel for collapse(2) device(device) \
    map(present, alloc : cur[first:count], nxt[first:count])
      for (long i = lo; i < hi; ++i)
        for (long j = 1; j < n - 1; ++j)
          nxt[i * n + j] = 0.25 * (cur[(i - 1) * n + j] + cur[(i + 1) * n + j] + cur[i * n + j - 1] +
                                   cur[i * n + j + 1]);
      double *t = cur;
      cur = nxt;
      nxt = t;
      if (devices == 2) {
        /* My edge rows out, then the neighbour's edge rows in as my halo. */
        const long edge = d == 0 ? hi - 1 : lo, halo = d == 0 ? hi : lo - 1;
#pragma omp target update device(device) from(cur[edge * n:n])
#pragma omp barrier
#pragma omp target update device(device) to(cur[halo * n:n])
      }
      if (step % every == 0 && step / every <= checks) {
#pragma omp target update device(device) from(cur[lo * n:(hi - lo) * n])
        const double *expected = snapshots + (size_t)(step / every - 1) * n * n;
        for (long k = lo * n; k < hi * n; ++k)
          example_compare(&diffs[d], k, cur[k], expected[k], 1e-12);
      }
      /* Nobody overwrites a row the neighbour has not read yet. */
#pragma omp barrier
    }
  }
  double milliseconds = (omp_get_wtime() - start) * 1e3;

  example_diff *diff = diffs[0].wrong ? &diffs[0] : &diffs[1];
  char what[96];
  snprintf(what, sizeof what, "%ld x %ld grid, %d steps, %d copies back", n, n, steps, checks);
  int status = example_finish("heat", what, where, milliseconds, diff);
  free(u);
  free(v);
  free(snapshots);
  free(a);
  free(b);
  return status;
}
