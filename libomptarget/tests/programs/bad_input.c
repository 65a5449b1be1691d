// Bad input gets a message and the OpenMP outcome: an extending map and a device number out of
// range make the region run on the host; an unmapped pointer reaches the region with its host
// value. Run with LIBOMPTARGET_DEBUG=1; the test checks the messages.
#include "check.h"

#include <stdint.h>

int main(void) {
  CHECK(onDevice());
  int A[16] = {0};
  int Initial = -1;
#pragma omp target data map(tofrom : A[0 : 8])
  {
#pragma omp target map(tofrom : A[0 : 16]) map(from : Initial)
    {
      Initial = omp_is_initial_device();
      A[12] = 12;
    }
    CHECK(Initial == 1 && A[12] == 12);
  }

  int Host[4] = {1, 2, 3, 4};
  int *P = Host;
  uintptr_t Seen = 0;
#pragma omp target map(from : Seen)
  Seen = (uintptr_t)P;
  CHECK(Seen == (uintptr_t)Host);

  Initial = -1;
#pragma omp target device(7) map(from : Initial)
  Initial = omp_is_initial_device();
  CHECK(Initial == 1);
#pragma omp target enter data map(to : Host) device(7)
  CHECK(!omp_target_is_present(Host, 0));
  CHECK(omp_target_alloc(16, 7) == NULL);
  return Failures;
}
