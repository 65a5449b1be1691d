// Several host threads offload at once, each with its own data and all with one shared array;
// target nowait regions run as tasks and finish at taskwait.
#include "check.h"

#define THREADS 4
#define N 256
#define ROUNDS 8

int main(void) {
  CHECK(onDevice());
  int Shared[N];
  for (int I = 0; I < N; ++I)
    Shared[I] = I;
  int Sums[THREADS] = {0};
#pragma omp parallel num_threads(THREADS)
  {
    int T = omp_get_thread_num();
    int Own[N];
    for (int I = 0; I < N; ++I)
      Own[I] = T;
    for (int R = 0; R < ROUNDS; ++R) {
#pragma omp target map(tofrom : Own) map(to : Shared)
      for (int I = 0; I < N; ++I)
        Own[I] += Shared[I];
    }
    int Sum = 0;
    for (int I = 0; I < N; ++I)
      Sum += Own[I] - T - ROUNDS * I;
    Sums[T] = Sum;
  }
  for (int T = 0; T < THREADS; ++T)
    CHECK(Sums[T] == 0);
  CHECK(!omp_target_is_present(Shared, omp_get_default_device()));

  int Parts[THREADS] = {0};
  for (int T = 0; T < THREADS; ++T) {
#pragma omp target map(tofrom : Parts[T : 1]) nowait
    Parts[T] = 10 * T + 1;
  }
#pragma omp taskwait
  for (int T = 0; T < THREADS; ++T)
    CHECK(Parts[T] == 10 * T + 1);

  int Deps = 1;
#pragma omp target enter data map(to : Deps) nowait depend(out : Deps)
#pragma omp target map(tofrom : Deps) nowait depend(inout : Deps)
  Deps *= 5;
#pragma omp target exit data map(from : Deps) nowait depend(in : Deps)
#pragma omp taskwait
  CHECK(Deps == 5);
  return Failures;
}
