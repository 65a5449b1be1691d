// Synchronisation inside target regions: atomic updates (int and floating point, with capture),
// critical sections across teams, single, master, masked and barriers between phases.
#include "check.h"

#include <omp.h>

#define N 4096

int main(void) {
  int Hits = 0, Captured = 0;
  float FSum = 0.0f;
  double DSum = 0.0, DMax = -1.0;
#pragma omp target teams distribute parallel for map(tofrom : Hits, FSum, DSum, DMax, Captured)
  for (int I = 0; I < N; ++I) {
#pragma omp atomic
    Hits += 1;
#pragma omp atomic
    FSum += 0.5f;
#pragma omp atomic update
    DSum += (double)I;
    int Old;
#pragma omp atomic capture
    Old = Captured++;
    (void)Old;
#pragma omp critical(maximum)
    if ((double)(I % 1000) > DMax)
      DMax = (double)(I % 1000);
  }
  CHECK_INT(Hits, N);
  CHECK_INT(Captured, N);
  CHECK_NEAR(FSum, N * 0.5, 0);
  CHECK_NEAR(DSum, (double)N * (N - 1) / 2, 0);
  CHECK_NEAR(DMax, 999.0, 0);

  // Phases separated by barriers: each thread writes its slot, then reads its neighbour's.
  int Slots[256], Neighbour[256], Singles = 0, Masters = 0, Masked = 0, Threads = 0;
  long long Critical = 0;
#pragma omp target parallel map(from : Slots, Neighbour, Threads)                               \
    map(tofrom : Singles, Masters, Masked, Critical)
  {
    int T = omp_get_thread_num(), P = omp_get_num_threads();
    if (P > 256)
      P = 256;
    if (T < 256)
      Slots[T] = T * 10;
#pragma omp barrier
    if (T < P)
      Neighbour[T] = Slots[(T + 1) % P];
#pragma omp single
    {
      Singles += 1;
      Threads = omp_get_num_threads();
    }
#pragma omp master
    Masters += 1;
#pragma omp masked filter(1)
    Masked += 1;
#pragma omp critical
    Critical += T + 1;
  }
  int P = Threads < 256 ? Threads : 256;
  int NeighboursRight = 0;
  for (int T = 0; T < P; ++T)
    NeighboursRight += Neighbour[T] == ((T + 1) % P) * 10;
  CHECK_INT(NeighboursRight, P);
  CHECK_INT(Singles, 1);
  CHECK_INT(Masters, 1);
  CHECK_INT(Masked, Threads > 1 ? 1 : 0);
  CHECK_INT(Critical, (long long)Threads * (Threads + 1) / 2);
  if (Threads < 2)
    CHECK_INT(Threads, 2); // the region must run on more than one thread here
  return Failures;
}
