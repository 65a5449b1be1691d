// Device memory routines: omp_target_alloc with is_device_ptr, omp_target_memcpy and
// omp_target_memcpy_rect, omp_target_associate_ptr, and the initial device.
#include "check.h"

#include <string.h>

#define N 32

int main(void) {
  CHECK(onDevice());
  int Dev = omp_get_default_device(), Host = omp_get_initial_device();
  CHECK(omp_get_num_devices() >= 1 && Host == omp_get_num_devices());

  int *D = omp_target_alloc(N * sizeof(int), Dev);
  CHECK(D != NULL);
  CHECK(!omp_target_is_present(D, Dev)); // device memory is not a mapping
  int Initial = 1, Scale = 1; // a value and a device pointer, both passed as literals
#pragma omp target is_device_ptr(D) firstprivate(Scale) map(from : Initial)
  {
    for (int I = 0; I < N; ++I)
      D[I] = Scale * I * I;
    Initial = omp_is_initial_device();
  }
  CHECK(Initial == 0);
  int H[N];
  memset(H, 0, sizeof(H));
  CHECK(omp_target_memcpy(H + 1, D, 4 * sizeof(int), 0, 2 * sizeof(int), Host, Dev) == 0);
  CHECK(H[0] == 0 && H[1] == 4 && H[4] == 25 && H[5] == 0);

  // Device to device, then back.
  int *E = omp_target_alloc(N * sizeof(int), Dev);
  CHECK(omp_target_memcpy(E, D, N * sizeof(int), 0, 0, Dev, Dev) == 0);
  CHECK(omp_target_memcpy(H, E, N * sizeof(int), 0, 0, Host, Dev) == 0);
  CHECK(H[N - 1] == (N - 1) * (N - 1));

  // A 3x4 block at row 1, column 2 of a 4x8 host matrix into a 5x6 device matrix at (2, 1).
  int M[4][8], R[5][6];
  for (int I = 0; I < 4; ++I)
    for (int J = 0; J < 8; ++J)
      M[I][J] = 10 * I + J;
  CHECK(omp_target_memcpy_rect(NULL, NULL, 0, 0, NULL, NULL, NULL, NULL, NULL, 0, 0) >= 2);
  size_t Volume[2] = {3, 4}, DstOff[2] = {2, 1}, SrcOff[2] = {1, 2}, DstDims[2] = {5, 6},
         SrcDims[2] = {4, 8};
  CHECK(omp_target_memcpy(E, H, N * sizeof(int), 0, 0, Dev, Host) == 0); // 5x6 fits in N ints
  CHECK(omp_target_memset(E, 0, 30 * sizeof(int), Dev) == E);
  CHECK(omp_target_memcpy_rect(E, M, sizeof(int), 2, Volume, DstOff, SrcOff, DstDims, SrcDims, Dev,
                               Host) == 0);
  CHECK(omp_target_memcpy(R, E, sizeof(R), 0, 0, Host, Dev) == 0);
  CHECK(R[2][1] == 12 && R[2][4] == 15 && R[4][1] == 32 && R[4][4] == 35);
  CHECK(R[1][1] == 0 && R[2][0] == 0 && R[2][5] == 0);

  // A host array associated with device memory: regions use it without copies.
  int A[N];
  CHECK(omp_target_associate_ptr(A, D, N * sizeof(int), 0, Dev) == 0);
  CHECK(omp_target_is_present(A, Dev) && omp_get_mapped_ptr(A + 3, Dev) == D + 3);
#pragma omp target map(tofrom : A[0 : N])
  A[0] = -1;
#pragma omp target update from(A[0 : 2])
  CHECK(A[0] == -1 && A[1] == 1);
  CHECK(omp_target_disassociate_ptr(A, Dev) == 0);
  CHECK(!omp_target_is_present(A, Dev));
  CHECK(omp_target_disassociate_ptr(A, Dev) != 0);

  omp_target_free(D, Dev);
  omp_target_free(E, Dev);
  // The initial device's memory is host memory.
  int *HostMem = omp_target_alloc(16, Host);
  CHECK(HostMem != NULL && omp_target_is_present(HostMem, Host));
  omp_target_free(HostMem, Host);
  return Failures;
}
