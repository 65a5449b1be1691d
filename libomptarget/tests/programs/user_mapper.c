// A declare mapper maps a struct with the array its pointer leads to, for one struct and for an
// array of them.
#include "check.h"

#include <stdlib.h>

struct Vec {
  int Len;
  double *Data;
};
#pragma omp declare mapper(struct Vec V) map(V, V.Data[0 : V.Len])

int main(void) {
  CHECK(onDevice());
  struct Vec V = {4, malloc(4 * sizeof(double))};
  double *HostData = V.Data;
  for (int I = 0; I < 4; ++I)
    V.Data[I] = I;
#pragma omp target map(tofrom : V)
  for (int I = 0; I < V.Len; ++I)
    V.Data[I] *= 2;
  CHECK(V.Data == HostData && V.Data[3] == 6.0);

  struct Vec W[3];
  for (int J = 0; J < 3; ++J) {
    W[J].Len = J + 1;
    W[J].Data = calloc(J + 1, sizeof(double));
  }
#pragma omp target enter data map(to : W)
  CHECK(omp_target_is_present(W[2].Data, omp_get_default_device()));
#pragma omp target
  for (int J = 0; J < 3; ++J)
    W[J].Data[J] = 10 * J + 1;
#pragma omp target exit data map(from : W)
  CHECK(W[2].Data[2] == 21.0 && W[1].Data[1] == 11.0 && W[1].Data[0] == 0.0);
  CHECK(!omp_target_is_present(W[2].Data, omp_get_default_device()));
  for (int J = 0; J < 3; ++J)
    free(W[J].Data);
  free(HostData);
  return Failures;
}
