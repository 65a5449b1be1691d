// The offload images the benchmark loads, with the host's offload entries for them.
#ifndef BENCH_BENCH_IMAGE_H
#define BENCH_BENCH_IMAGE_H

#include "omptarget_records.h"

#include <deque>
#include <string>
#include <vector>

namespace bench {

struct BenchImage {
  std::vector<char> Bytes;
  std::deque<std::string> Names;
  std::vector<OffloadEntry> Entries;
  DeviceImage Image{};
};

// The built image with Count empty regions (Count 1, 10 or 100); false when it cannot be read.
bool readRegionsImage(int Count, BenchImage &Out);

// An image for the fake driver: Count regions taking one pointer and one scalar each, the first
// named "k".
void fakeDriverImage(BenchImage &Out, int Count = 1);

} // namespace bench

#endif
