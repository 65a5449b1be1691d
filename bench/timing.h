// Wall-clock timing by medians. The machine is shared and noisy, so every figure is the median of
// many timed repetitions, and the two sides of a comparison alternate within each repetition so
// that drift and interference hit both alike.
#ifndef BENCH_TIMING_H
#define BENCH_TIMING_H

#include <cstdint>
#include <vector>

namespace bench {

uint64_t nowNs();
double median(std::vector<double> Values);

// How often to time: Repetitions timed samples of Inner calls each.
struct Sampling {
  int Repetitions;
  int Inner;
};

// Median nanoseconds per call of Fn.
template <class F> double medianNs(const Sampling &S, F &&Fn) {
  std::vector<double> Samples;
  for (int R = 0; R < S.Repetitions; ++R) {
    uint64_t Start = nowNs();
    for (int I = 0; I < S.Inner; ++I)
      Fn();
    Samples.push_back(static_cast<double>(nowNs() - Start) / S.Inner);
  }
  return median(Samples);
}

struct PairNs {
  double A = 0;
  double B = 0;
};

// Median nanoseconds per call of A and of B, sampled alternately (B first on odd repetitions).
template <class FA, class FB> PairNs medianPairNs(const Sampling &S, FA &&A, FB &&B) {
  std::vector<double> SamplesA, SamplesB;
  auto Time = [&](auto &Fn, std::vector<double> &Into) {
    uint64_t Start = nowNs();
    for (int I = 0; I < S.Inner; ++I)
      Fn();
    Into.push_back(static_cast<double>(nowNs() - Start) / S.Inner);
  };
  for (int R = 0; R < S.Repetitions; ++R) {
    if (R % 2) {
      Time(B, SamplesB);
      Time(A, SamplesA);
    } else {
      Time(A, SamplesA);
      Time(B, SamplesB);
    }
  }
  return {median(SamplesA), median(SamplesB)};
}

} // namespace bench

#endif
