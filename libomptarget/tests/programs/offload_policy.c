// OMP_TARGET_OFFLOAD: the argument says where the regions must run, "device" or "host". Under
// MANDATORY without a device the first region ends the program with a message.
#include "check.h"

#include <string.h>

int main(int Argc, char **Argv) {
  int ExpectDevice = Argc > 1 && !strcmp(Argv[1], "device");
  CHECK((omp_get_num_devices() > 0) == ExpectDevice);
  int A[4] = {1, 2, 3, 4}, Initial = -1;
#pragma omp target enter data map(to : A)
#pragma omp target map(from : Initial) map(tofrom : A[0 : 4])
  {
    Initial = omp_is_initial_device();
    A[0] += 1;
  }
  CHECK(Initial == !ExpectDevice);
  CHECK(A[0] == (ExpectDevice ? 1 : 2)); // the device copy stays mapped until the exit
#pragma omp target exit data map(from : A)
  CHECK(A[0] == 2);
  return Failures;
}
