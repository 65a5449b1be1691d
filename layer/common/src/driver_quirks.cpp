#include "driver_quirks.h"

#include <ctime>

cl_ulong hostNanoseconds() {
  timespec Now;
  clock_gettime(CLOCK_MONOTONIC_RAW, &Now);
  return static_cast<cl_ulong>(Now.tv_sec) * 1000000000ull + static_cast<cl_ulong>(Now.tv_nsec);
}
