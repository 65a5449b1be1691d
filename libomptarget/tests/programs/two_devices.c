// The device clause, omp_set_default_device and OMP_DEFAULT_DEVICE over two devices; each device
// has its own mappings. Run with two devices and OMP_DEFAULT_DEVICE=1.
#include "check.h"

int main(void) {
  CHECK(omp_get_num_devices() == 2);
  CHECK(omp_get_default_device() == 1);
  int A[4] = {1, 2, 3, 4};
#pragma omp target enter data map(to : A) device(0)
  CHECK(omp_target_is_present(A, 0) && !omp_target_is_present(A, 1));
  int OnDevice = 0, DeviceNum = -1;
#pragma omp target map(from : OnDevice, DeviceNum) device(1)
  {
    OnDevice = !omp_is_initial_device();
    DeviceNum = omp_get_device_num();
  }
  CHECK(OnDevice && DeviceNum == 1);
#pragma omp target device(0)
  A[0] = 10;
#pragma omp target map(tofrom : A) // the default device, 1, gets its own copy
  A[1] = 20;
  CHECK(A[0] == 1 && A[1] == 20);
  omp_set_default_device(0);
#pragma omp target exit data map(from : A)
  CHECK(A[0] == 10 && A[1] == 2);
  CHECK(!omp_target_is_present(A, 0));
  return Failures;
}
