// A program of two sources with target regions in both (the other holds the declare-target
// variable): their device code is linked into one image.
#include "check.h"

int partRegion(void);

int main(void) {
  int Sum = 0;
#pragma omp target teams distribute parallel for reduction(+ : Sum)
  for (int I = 0; I < 100; ++I)
    Sum += I;
  CHECK_INT(Sum, 4950);
  CHECK_INT(partRegion(), 42);
  return Failures;
}
