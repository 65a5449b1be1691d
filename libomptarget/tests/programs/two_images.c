// A program and a shared library each register an image; regions of both run on one device,
// with the program's data staying mapped across the library's region.
#include "check.h"

int libraryRegion(int X, int *OnDevice);

int main(void) {
  CHECK(onDevice());
  int A[4] = {1, 2, 3, 4};
#pragma omp target enter data map(to : A)
  int OnDevice = 0;
  CHECK(libraryRegion(5, &OnDevice) == 15 && OnDevice);
#pragma omp target // a region of the program after one of the library
  A[0] = A[1] * 10;
#pragma omp target exit data map(from : A)
  CHECK(A[0] == 20 && A[3] == 4);
  return Failures;
}
