#include "timing.h"

#include <algorithm>
#include <ctime>

namespace bench {

uint64_t nowNs() {
  timespec T;
  clock_gettime(CLOCK_MONOTONIC, &T);
  return static_cast<uint64_t>(T.tv_sec) * 1000000000u + static_cast<uint64_t>(T.tv_nsec);
}

double median(std::vector<double> Values) {
  if (Values.empty())
    return 0;
  size_t Mid = Values.size() / 2;
  std::nth_element(Values.begin(), Values.begin() + Mid, Values.end());
  double Upper = Values[Mid];
  if (Values.size() % 2)
    return Upper;
  double Lower = *std::max_element(Values.begin(), Values.begin() + Mid);
  return (Lower + Upper) / 2;
}

} // namespace bench
