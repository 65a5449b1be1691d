// target data with target update, use_device_ptr and use_device_addr; target enter/exit data
// with reference counts.
#include "check.h"

#define N 64

int main(void) {
  CHECK(onDevice());
  int Dev = omp_get_default_device();
  int A[N];
  for (int I = 0; I < N; ++I)
    A[I] = I;

#pragma omp target data map(tofrom : A)
  {
    CHECK(omp_target_is_present(A, Dev));
#pragma omp target
    for (int I = 0; I < N; ++I)
      A[I] += 1;
    CHECK(A[0] == 0); // still on the device only
#pragma omp target update from(A[0 : 8])
    CHECK(A[0] == 1 && A[7] == 8 && A[8] == 8);
    A[10] = 1000;
#pragma omp target update to(A[10 : 1])
#pragma omp target
    A[11] = A[10] + 1;

    // The device address of A, usable by device routines and is_device_ptr regions.
    int *P = A + 2, *DevP = NULL, *DevA = NULL;
#pragma omp target data use_device_ptr(P)
    DevP = P;
#pragma omp target data use_device_addr(A)
    DevA = A;
    CHECK(DevA != A && DevA == omp_get_mapped_ptr(A, Dev));
    CHECK(DevP == DevA + 2 && P == A + 2);
    int Copy = 0;
    CHECK(omp_target_memcpy(&Copy, DevA, sizeof(int), 0, 10 * sizeof(int),
                            omp_get_initial_device(), Dev) == 0);
    CHECK(Copy == 1000);
  }
  CHECK(!omp_target_is_present(A, Dev));
  CHECK(A[11] == 1001 && A[N - 1] == N);

  // Dynamic reference counts: two enters need two exits; delete ends the mapping at once.
  int B[N];
  for (int I = 0; I < N; ++I)
    B[I] = 2 * I;
#pragma omp target enter data map(to : B)
#pragma omp target enter data map(alloc : B[0 : N])
#pragma omp target
  for (int I = 0; I < N; ++I)
    B[I] += 1;
#pragma omp target exit data map(from : B)
  CHECK(omp_target_is_present(B, Dev));
  CHECK(B[0] == 0); // the mapping stays: no copy back yet
#pragma omp target exit data map(from : B)
  CHECK(!omp_target_is_present(B, Dev));
  CHECK(B[0] == 1 && B[N - 1] == 2 * N - 1);

#pragma omp target enter data map(to : B)
#pragma omp target enter data map(to : B)
#pragma omp target exit data map(delete : B)
  CHECK(!omp_target_is_present(B, Dev));

  // release lowers the count without copying; always from copies while the data stays.
#pragma omp target enter data map(to : B)
#pragma omp target enter data map(to : B)
#pragma omp target
  B[0] = 42;
#pragma omp target exit data map(release : B)
  CHECK(omp_target_is_present(B, Dev) && B[0] == 1);
#pragma omp target exit data map(always, from : B[0 : 1])
  CHECK(B[0] == 42);
#pragma omp target exit data map(release : B)
  CHECK(!omp_target_is_present(B, Dev));
  return Failures;
}
