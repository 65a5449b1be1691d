// A construct the device runtime does not provide: an ordered loop.
int main(void) {
  int Out[100];
#pragma omp target parallel map(from : Out)
#pragma omp for ordered
  for (int I = 0; I < 100; ++I) {
#pragma omp ordered
    Out[I] = I;
  }
  return Out[99] != 99;
}
