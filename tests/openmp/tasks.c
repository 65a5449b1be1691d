// Tasks inside target regions run at once: task with shared and firstprivate data, taskwait,
// taskgroup, dependences, and tasks created by several threads.
#include "check.h"

#include <omp.h>

int main(void) {
  int Order[4] = {0, 0, 0, 0}, Sum = 0, Step = 0;
#pragma omp target map(tofrom : Order, Sum, Step)
  {
    int Local = 5;
#pragma omp task firstprivate(Local) shared(Sum)
    Sum += Local;
#pragma omp taskwait
#pragma omp taskgroup
    {
#pragma omp task depend(out : Step) shared(Order, Step)
      Order[0] = ++Step;
#pragma omp task depend(inout : Step) shared(Order, Step)
      Order[1] = ++Step;
    }
#pragma omp task if (0) shared(Order, Step)
    Order[2] = ++Step;
    Order[3] = Step + 1;
  }
  CHECK_INT(Sum, 5);
  CHECK_INT(Order[0], 1);
  CHECK_INT(Order[1], 2);
  CHECK_INT(Order[2], 3);
  CHECK_INT(Order[3], 4);

  int Made[64];
  for (int I = 0; I < 64; ++I)
    Made[I] = 0;
#pragma omp target teams distribute parallel for map(tofrom : Made)
  for (int I = 0; I < 64; ++I) {
#pragma omp task shared(Made)
    Made[I] += I + 1;
  }
  int Right = 0;
  for (int I = 0; I < 64; ++I)
    Right += Made[I] == I + 1;
  CHECK_INT(Right, 64);

  int OnDevice = 0;
#pragma omp target map(from : OnDevice)
  OnDevice = !omp_is_initial_device();
  CHECK_INT(OnDevice, 1);
  return Failures;
}
