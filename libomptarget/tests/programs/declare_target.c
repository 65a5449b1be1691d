// Declare-target variables: the device's own copy, reached by the region's direct references and
// by target update.
#include "check.h"

int Global = 7;
int Table[4] = {1, 2, 3, 4};
#pragma omp declare target(Global, Table)

int main(void) {
  CHECK(onDevice());
#pragma omp target
  {
    Global += 1;
    Table[2] = 30;
  }
  CHECK(Global == 7 && Table[2] == 3);
#pragma omp target update from(Global, Table[1 : 2])
  CHECK(Global == 8 && Table[1] == 2 && Table[2] == 30);
  Global = 100;
#pragma omp target update to(Global)
  int Seen = 0;
#pragma omp target map(from : Seen)
  Seen = Global;
  CHECK(Seen == 100);
  return Failures;
}
