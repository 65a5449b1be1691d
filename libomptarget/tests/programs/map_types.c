// Every map type of a target region, firstprivate values, structs with members and attached
// pointers.
#include "check.h"

#include <stdlib.h>

struct Block {
  int Count;
  double Scale;
  int *Data;
};

int main(void) {
  CHECK(onDevice());
  int To = 3, From = -1, ToFrom = 10, Alloc = 0;
  int A[8];
  for (int I = 0; I < 8; ++I)
    A[I] = I;
#pragma omp target map(to : To) map(from : From) map(close, tofrom : ToFrom) map(alloc : Alloc)  \
    map(tofrom : A[2 : 4])
  {
    Alloc = To * 2;
    From = Alloc + 1;
    ToFrom += From;
    for (int I = 2; I < 6; ++I)
      A[I] *= 10;
  }
  CHECK(From == 7);
  CHECK(ToFrom == 17);
  CHECK(To == 3);
  CHECK(A[1] == 1 && A[2] == 20 && A[5] == 50 && A[6] == 6);

  // firstprivate scalars arrive by value; the host copies are untouched.
  int X = 4;
  double Y = 0.5;
  double Out = 0;
  int Initial = 1;
#pragma omp target firstprivate(X, Y) map(from : Out, Initial)
  {
    Out = X + Y;
    X = 100;
    Initial = omp_is_initial_device();
  }
  CHECK(Out == 4.5 && X == 4 && Initial == 0);

  // A struct mapped whole and its pointer's pointee: the device sees the device copy through
  // the attached pointer; the host keeps its own pointer.
  struct Block B = {5, 2.0, malloc(5 * sizeof(int))};
  int *HostData = B.Data;
  for (int I = 0; I < 5; ++I)
    B.Data[I] = I;
#pragma omp target map(tofrom : B, B.Data[0 : 5])
  {
    for (int I = 0; I < B.Count; ++I)
      B.Data[I] = (int)(B.Data[I] * B.Scale);
    B.Count = 6;
  }
  CHECK(B.Data == HostData);
  CHECK(B.Count == 6);
  CHECK(B.Data[0] == 0 && B.Data[4] == 8);

  // A pointer to a mapped array section.
  int *P = B.Data;
#pragma omp target map(tofrom : P[1 : 3])
  P[2] = -2;
  CHECK(B.Data[2] == -2 && B.Data[4] == 8);
  free(HostData);

  // always: the device copy is refreshed although the data is present.
  int V = 1;
#pragma omp target data map(tofrom : V)
  {
    V = 2;
#pragma omp target map(always, to : V)
    V += 1;
    CHECK(V == 2);
#pragma omp target map(present, tofrom : V)
    V *= 10;
  }
  CHECK(V == 30);
  return Failures;
}
