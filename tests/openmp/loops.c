// Worksharing and distribute loops with static schedules: chunks, dist_schedule, collapse(2),
// 64-bit and unsigned induction variables, strides other than one, loops shorter than the team,
// and lastprivate. Every iteration must run exactly once.
#include "check.h"

#include <omp.h>

#define N 1000

static int Count[N];

static void clear(void) {
  for (int I = 0; I < N; ++I)
    Count[I] = 0;
}

// Number of elements not run exactly as often as Want says (Want(I) in {0, 1}).
static int misses(int (*Want)(int)) {
  int Wrong = 0;
  for (int I = 0; I < N; ++I)
    Wrong += Count[I] != Want(I);
  return Wrong;
}
static int all(int I) { return I >= 0; }
static int everyThird(int I) { return I % 3 == 1; }
static int below7(int I) { return I < 7; }

int main(void) {
  // Schedules of the combined construct and of its parts.
  clear();
#pragma omp target teams distribute parallel for map(tofrom : Count) schedule(static, 3)         \
    dist_schedule(static, 50)
  for (int I = 0; I < N; ++I)
    Count[I] += 1;
  CHECK_INT(misses(all), 0);
  clear();
#pragma omp target teams distribute parallel for map(tofrom : Count) schedule(static)
  for (int I = 0; I < N; ++I)
    Count[I] += 1;
  CHECK_INT(misses(all), 0);
  clear();
#pragma omp target teams distribute map(tofrom : Count) dist_schedule(static)
  for (int I = 0; I < N; ++I)
    Count[I] += 1;
  CHECK_INT(misses(all), 0);

  // collapse(2) over a 37 x 29 space in a flat array, with chunks.
  clear();
#pragma omp target teams distribute parallel for collapse(2) map(tofrom : Count)                \
    schedule(static, 7)
  for (int I = 0; I < 37; ++I)
    for (int J = 0; J < 27; ++J)
      Count[I * 27 + J] += 1;
  int Inside = 0;
  for (int I = 0; I < N; ++I)
    Inside += Count[I] == (I < 37 * 27);
  CHECK_INT(Inside, N);

  // Stride 3 from 1, a 64-bit unsigned count down, a loop shorter than a team.
  clear();
#pragma omp target teams distribute parallel for map(tofrom : Count)
  for (int I = 1; I < N; I += 3)
    Count[I] += 1;
  CHECK_INT(misses(everyThird), 0);
  clear();
#pragma omp target teams distribute parallel for map(tofrom : Count)
  for (unsigned long long I = N; I > 0; --I)
    Count[I - 1] += 1;
  CHECK_INT(misses(all), 0);
  clear();
#pragma omp target teams distribute parallel for map(tofrom : Count) num_teams(3)
  for (long long I = 0; I < 7; ++I)
    Count[I] += 1;
  CHECK_INT(misses(below7), 0);

  // A parallel loop inside a parallel region, with lastprivate and nowait.
  int Last = -1;
  clear();
#pragma omp target parallel map(tofrom : Count, Last)
  {
#pragma omp for schedule(static, 4) lastprivate(Last)
    for (int I = 0; I < N; ++I) {
      Count[I] += 1;
      Last = I;
    }
  }
  CHECK_INT(misses(all), 0);
  CHECK_INT(Last, N - 1);

  // Dynamic and guided schedules hand out every iteration once, also in a loop with nowait
  // followed by another one.
  clear();
#pragma omp target parallel map(tofrom : Count)
  {
#pragma omp for schedule(dynamic, 5) nowait
    for (int I = 0; I < N / 2; ++I)
      Count[I] += 1;
#pragma omp for schedule(guided)
    for (unsigned I = N / 2; I < N; ++I)
      Count[I] += 1;
  }
  CHECK_INT(misses(all), 0);
  clear();
#pragma omp target teams distribute parallel for map(tofrom : Count) schedule(dynamic)
  for (long long I = 0; I < N; ++I)
    Count[I] += 1;
  CHECK_INT(misses(all), 0);

  // Which thread runs which chunk: schedule(static, 2) over 4 x threads iterations.
  int Owner[64];
  int Threads = 0;
#pragma omp target parallel map(from : Owner, Threads) num_threads(8)
  {
    if (omp_get_thread_num() == 0)
      Threads = omp_get_num_threads();
#pragma omp for schedule(static, 2)
    for (int I = 0; I < 64; ++I)
      Owner[I] = omp_get_thread_num();
  }
  int Placed = 0;
  for (int I = 0; I < 64; ++I)
    Placed += Owner[I] == (I / 2) % Threads;
  CHECK_INT(Placed, 64);
  return Failures;
}
