// The second source of two_sources_main.c.
int PartValue = 40;
#pragma omp declare target(PartValue)

int partRegion(void) {
  int Result = 0;
#pragma omp target map(from : Result)
  Result = PartValue + 2;
  return Result;
}
