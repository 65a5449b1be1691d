// Reductions across the teams and threads of target regions: + * min max on int, float and
// double, in combined and nested constructs, with a non-zero initial value.
#include "check.h"

#include <omp.h>

#define N 10007

int main(void) {
  static int Ints[N];
  static float Floats[N];
  static double Doubles[N];
  for (int I = 0; I < N; ++I) {
    Ints[I] = (I * 37) % 1001 - 500;
    Floats[I] = (float)((I % 13) - 6) * 0.25f;
    Doubles[I] = (double)((I * 7) % 101) - 50.5;
  }
  long long WantSum = 3, WantMin = 1 << 30, WantMax = -(1 << 30);
  double WantDouble = 1.5, WantDoubleMin = 1e300, WantDoubleMax = -1e300;
  float WantFloat = 0.5f, WantFloatMax = -1e30f;
  for (int I = 0; I < N; ++I) {
    WantSum += Ints[I];
    WantMin = Ints[I] < WantMin ? Ints[I] : WantMin;
    WantMax = Ints[I] > WantMax ? Ints[I] : WantMax;
    WantDouble += Doubles[I];
    WantDoubleMin = Doubles[I] < WantDoubleMin ? Doubles[I] : WantDoubleMin;
    WantDoubleMax = Doubles[I] > WantDoubleMax ? Doubles[I] : WantDoubleMax;
    WantFloat += Floats[I];
    WantFloatMax = Floats[I] > WantFloatMax ? Floats[I] : WantFloatMax;
  }

  int Sum = 3, Min = 1 << 30, Max = -(1 << 30);
  double DSum = 1.5, DMin = 1e300, DMax = -1e300;
  float FSum = 0.5f, FMax = -1e30f;
#pragma omp target teams distribute parallel for map(to : Ints, Floats, Doubles)                \
    reduction(+ : Sum, DSum, FSum) reduction(min : Min, DMin) reduction(max : Max, DMax, FMax)
  for (int I = 0; I < N; ++I) {
    Sum += Ints[I];
    Min = Ints[I] < Min ? Ints[I] : Min;
    Max = Ints[I] > Max ? Ints[I] : Max;
    DSum += Doubles[I];
    DMin = Doubles[I] < DMin ? Doubles[I] : DMin;
    DMax = Doubles[I] > DMax ? Doubles[I] : DMax;
    FSum += Floats[I];
    FMax = Floats[I] > FMax ? Floats[I] : FMax;
  }
  CHECK_INT(Sum, WantSum);
  CHECK_INT(Min, WantMin);
  CHECK_INT(Max, WantMax);
  CHECK_NEAR(DSum, WantDouble, 1e-12);
  CHECK_NEAR(DMin, WantDoubleMin, 0);
  CHECK_NEAR(DMax, WantDoubleMax, 0);
  CHECK_NEAR(FSum, WantFloat, 1e-5);
  CHECK_NEAR(FMax, WantFloatMax, 0);

  // Products stay exact: factors of 1 and 2 (int), powers of two (double and float).
  int Product = 1;
  double DProduct = 1.0;
  float FProduct = 2.0f;
#pragma omp target teams distribute parallel for reduction(* : Product, DProduct, FProduct)      \
    num_teams(5)
  for (int I = 0; I < 64; ++I) {
    Product *= (I % 8 == 0) ? 2 : 1;
    DProduct *= (I % 2 == 0) ? 2.0 : 0.5;
    FProduct *= (I % 4 == 0) ? 2.0f : 1.0f;
  }
  CHECK_INT(Product, 256);
  CHECK_NEAR(DProduct, 1.0, 0);
  CHECK_NEAR(FProduct, 2.0 * 65536.0, 0);

  // A reduction over the threads of one team, and one over teams only.
  long long Threads = 0;
#pragma omp target parallel for reduction(+ : Threads)
  for (int I = 0; I < N; ++I)
    Threads += I;
  CHECK_INT(Threads, (long long)N * (N - 1) / 2);
  int Teams = 0;
#pragma omp target teams num_teams(7) reduction(+ : Teams)
  Teams += omp_get_team_num() + 1;
  int NumTeams = 0;
#pragma omp target teams num_teams(7) map(from : NumTeams)
  if (omp_get_team_num() == 0)
    NumTeams = omp_get_num_teams();
  CHECK_INT(Teams, NumTeams * (NumTeams + 1) / 2);

  // The same reduction variable reduced by two kernels in a row, and a max of doubles through
  // a distribute loop with an inner parallel loop.
  double Rows = 0;
  for (int Round = 0; Round < 2; ++Round) {
#pragma omp target teams distribute reduction(max : Rows) map(to : Doubles)
    for (int R = 0; R < 100; ++R) {
      double Row = 0;
#pragma omp parallel for reduction(+ : Row)
      for (int C = 0; C < 100; ++C)
        Row += Doubles[R * 100 + C];
      Rows = Row > Rows ? Row : Rows;
    }
  }
  double WantRows = 0;
  for (int R = 0; R < 100; ++R) {
    double Row = 0;
    for (int C = 0; C < 100; ++C)
      Row += Doubles[R * 100 + C];
    WantRows = Row > WantRows ? Row : WantRows;
  }
  CHECK_NEAR(Rows, WantRows, 1e-12);
  if (omp_get_num_devices() > 0) {
    int OnDevice = 0;
#pragma omp target map(from : OnDevice)
    OnDevice = !omp_is_initial_device();
    CHECK_INT(OnDevice, 1);
  }
  return Failures;
}
