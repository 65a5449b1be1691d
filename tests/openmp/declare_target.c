// Declare-target functions and variables: device code reads and writes variables the host
// updates with target update, arrays and structures among them, and calls device functions.
#include "check.h"

#include <omp.h>

#pragma omp declare target
int Scale = 3;
double Table[8];
struct Pair {
  int First;
  long long Second;
} Point;
static int scaled(int X) { return X * Scale; }
double tableSum(void) {
  double S = 0;
  for (int I = 0; I < 8; ++I)
    S += Table[I];
  return S;
}
#pragma omp end declare target

int Counter = 0;
#pragma omp declare target(Counter)

int main(void) {
  int Out[16];
#pragma omp target map(from : Out)
  for (int I = 0; I < 16; ++I)
    Out[I] = scaled(I);
  int Right = 0;
  for (int I = 0; I < 16; ++I)
    Right += Out[I] == 3 * I;
  CHECK_INT(Right, 16);

  // The host changes the variables and sends them; the device reads the new values.
  Scale = 7;
  for (int I = 0; I < 8; ++I)
    Table[I] = I * 0.5;
  Point.First = 11;
  Point.Second = 1LL << 40;
#pragma omp target update to(Scale, Table, Point)
  double Sum = 0;
  long long Second = 0;
  int First = 0;
#pragma omp target map(from : Out, Sum, Second, First)
  {
    for (int I = 0; I < 16; ++I)
      Out[I] = scaled(I);
    Sum = tableSum();
    First = Point.First;
    Second = Point.Second;
  }
  Right = 0;
  for (int I = 0; I < 16; ++I)
    Right += Out[I] == 7 * I;
  CHECK_INT(Right, 16);
  CHECK_NEAR(Sum, 14.0, 0);
  CHECK_INT(First, 11);
  CHECK_INT(Second, 1LL << 40);

  // Device code writes a variable in two kernels; the host reads it back.
#pragma omp target teams distribute parallel for
  for (int I = 0; I < 100; ++I) {
#pragma omp atomic
    Counter += 1;
  }
#pragma omp target
  Counter += 1000;
  int Before = Counter;
#pragma omp target update from(Counter)
  CHECK_INT(Before, 0);
  CHECK_INT(Counter, 1100);
  return Failures;
}
