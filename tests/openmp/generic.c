// Target regions the compiler runs in generic mode: sequential code on one thread per team with
// parallel regions inside, code between regions, nested parallel regions, a region whose thread
// count depends on an if clause, and variables shared between the sequential part and regions.
#include "check.h"

#include <omp.h>

#define N 512

int main(void) {
  int Data[N];
  int Before = 0, After = 0, Level = -1, Inner = -1, Serial = -1, Counted = 0;
#pragma omp target map(from : Data, Before, After, Level, Inner, Serial) map(tofrom : Counted)
  {
    int Shared = 40; // read and written by the regions below
    Before = omp_get_num_threads() + omp_get_level();
#pragma omp parallel
    {
#pragma omp for
      for (int I = 0; I < N; ++I)
        Data[I] = I + Shared;
      if (omp_get_thread_num() == 0)
        Level = omp_get_level();
#pragma omp atomic
      Counted += 1;
    }
    Shared += 2;
#pragma omp parallel if (Shared < 0)
    {
      if (omp_get_thread_num() == 0)
        Serial = omp_get_num_threads();
#pragma omp parallel
      if (omp_get_thread_num() == 0)
        Inner = omp_get_level() * 100 + omp_get_num_threads();
    }
    After = Shared + omp_get_level();
  }
  int Right = 0;
  for (int I = 0; I < N; ++I)
    Right += Data[I] == I + 40;
  CHECK_INT(Right, N);
  CHECK_INT(Before, 1);
  CHECK_INT(After, 42);
  CHECK_INT(Level, 1);
  CHECK_INT(Serial, 1);
  CHECK_INT(Inner, 201);
  if (Counted < 1)
    CHECK_INT(Counted, 1);

  // Teams in generic mode: a distribute loop whose body holds a parallel loop and team-level
  // code between them.
  int Rows[16][32];
  int TeamSeen[16];
#pragma omp target teams distribute map(from : Rows, TeamSeen) num_teams(4)
  for (int R = 0; R < 16; ++R) {
    int Base = R * 1000;
    TeamSeen[R] = omp_get_team_num() < omp_get_num_teams();
#pragma omp parallel for
    for (int C = 0; C < 32; ++C)
      Rows[R][C] = Base + C;
  }
  int RowsRight = 0, TeamsRight = 0;
  for (int R = 0; R < 16; ++R) {
    TeamsRight += TeamSeen[R];
    for (int C = 0; C < 32; ++C)
      RowsRight += Rows[R][C] == R * 1000 + C;
  }
  CHECK_INT(RowsRight, 16 * 32);
  CHECK_INT(TeamsRight, 16);

  int OnDevice = 0;
#pragma omp target map(from : OnDevice)
  OnDevice = !omp_is_initial_device();
  CHECK_INT(OnDevice, 1);
  return Failures;
}
