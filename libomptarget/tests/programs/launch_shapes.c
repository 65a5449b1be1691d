// Launch shapes: a region without teams runs as one team, num_teams and thread_limit reach the
// device, and a loop's trip count shapes a combined construct that covers every iteration once.
#include "check.h"

#define N 1000

int main(void) {
  CHECK(onDevice());
  int Teams = -1;
#pragma omp target map(from : Teams)
  Teams = omp_get_num_teams();
  CHECK(Teams == 1);

  int Threads = -1;
#pragma omp target teams num_teams(3) thread_limit(16) map(tofrom : Teams, Threads)
  {
    if (omp_get_team_num() == 0) {
      Teams = omp_get_num_teams();
#pragma omp parallel
      if (omp_get_thread_num() == 0)
        Threads = omp_get_num_threads();
    }
  }
  CHECK(Teams == 3);
  CHECK(Threads >= 1 && Threads <= 16);

  int Hits[N] = {0};
#pragma omp target teams distribute parallel for map(tofrom : Hits)
  for (int I = 0; I < N; ++I)
    Hits[I] += I;
  int Wrong = 0;
  for (int I = 0; I < N; ++I)
    Wrong += Hits[I] != I;
  CHECK(Wrong == 0);
  return Failures;
}
