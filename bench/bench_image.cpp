#include "bench_image.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace bench {

namespace {

void addRegion(BenchImage &Out, const std::string &Name) {
  Out.Names.push_back(Name);
  Out.Entries.push_back(OffloadEntry{nullptr, &Out.Names.back()[0], 0, 0, 0});
}

void describe(BenchImage &Out) {
  // The host runtime's entry addresses only need to be distinct.
  for (OffloadEntry &E : Out.Entries)
    E.address = &E;
  Out.Image = DeviceImage{Out.Bytes.data(), Out.Bytes.data() + Out.Bytes.size(),
                          Out.Entries.data(), Out.Entries.data() + Out.Entries.size()};
}

} // namespace

bool readRegionsImage(int Count, BenchImage &Out) {
  std::string Path = std::string(BENCH_IMAGE_DIR) + "/bench_" + std::to_string(Count) + ".offload";
  std::ifstream In(Path, std::ios::binary);
  Out.Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  if (Out.Bytes.empty())
    return false;
  for (int I = 0; I < Count; ++I) {
    char Name[64];
    std::snprintf(Name, sizeof(Name), "__omp_offloading_bench_empty_%03d", I);
    addRegion(Out, Name);
  }
  describe(Out);
  return true;
}

void fakeDriverImage(BenchImage &Out, int Count) {
  // Bare SPIR-V as far as the plugin can tell, with the fake driver's module description after
  // the magic number.
  const uint32_t Magic = 0x07230203;
  Out.Bytes.resize(sizeof(Magic));
  std::memcpy(Out.Bytes.data(), &Magic, sizeof(Magic));
  std::string Manifest = "\nFAKECL-MODULE\n";
  for (int I = 0; I < Count; ++I) {
    std::string Name = I ? "k" + std::to_string(I) : "k";
    Manifest += "kernel " + Name + " args=2\nentry " + Name + "\n";
    addRegion(Out, Name);
  }
  Out.Bytes.insert(Out.Bytes.end(), Manifest.begin(), Manifest.end());
  Out.Bytes.push_back(0);
  describe(Out);
}

} // namespace bench
