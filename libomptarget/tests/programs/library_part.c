// The shared-library half of two_images: a library with offload code of its own.
#include <omp.h>

int libraryRegion(int X, int *OnDevice) {
  int R = 0, Initial = 1;
#pragma omp target map(from : R, Initial)
  {
    R = 3 * X;
    Initial = omp_is_initial_device();
  }
  *OnDevice = !Initial;
  return R;
}
