// Self-checking OpenMP test programs: each failed check prints its line and the program exits
// with the number of failed checks.
#include <omp.h>
#include <stdio.h>

static int Failures = 0;
#define CHECK(Cond)                                                                                \
  do {                                                                                             \
    if (!(Cond)) {                                                                                 \
      printf("%s:%d: check failed: %s\n", __FILE__, __LINE__, #Cond);                              \
      ++Failures;                                                                                  \
    }                                                                                              \
  } while (0)

// Whether a target region ran on a device rather than falling back to the host.
static int onDevice(void) {
  int Initial = 1;
#pragma omp target map(from : Initial)
  Initial = omp_is_initial_device();
  return !Initial;
}
