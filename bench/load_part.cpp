#include "figures.h"
#include "parts.h"

#include <cstdio>
#include <dlfcn.h>

namespace bench {

int loadPart(int Count, bool DeviceLibraries, HostPlugin &Plugin) {
  BenchImage Image;
  if (!readRegionsImage(Count, Image)) {
    std::fprintf(stderr, "offload_bench: cannot read the image of %d regions\n", Count);
    return 2;
  }
  if (!startDevice(Plugin))
    return 2;
  // The loader has opened the clock layer by now; this finds that instance.
  void *Clock = dlopen(BENCH_DRIVER_CLOCK_PATH, RTLD_NOW | RTLD_NOLOAD);
  auto DriverNs =
      Clock ? reinterpret_cast<uint64_t (*)()>(dlsym(Clock, "offload_bench_driver_ns")) : nullptr;
  if (!DriverNs) {
    std::fprintf(stderr, "offload_bench: the driver clock layer is not loaded\n");
    return 3;
  }
  std::string Key = "load." + std::to_string(Count) + (DeviceLibraries ? ".devlib" : "");
  std::string Label = "load, " + std::to_string(Count) + (Count == 1 ? " region" : " regions") +
                      (DeviceLibraries ? ", device libraries" : "");
  for (const char *Which : {"first", "second"}) {
    uint64_t Driver = DriverNs();
    uint64_t Start = nowNs();
    if (!loadImage(Plugin, Image))
      return 4;
    double Wall = static_cast<double>(nowNs() - Start);
    emitRow(Key + "." + Which, Label + ", " + Which + " (baseline: driver)", Wall,
            static_cast<double>(DriverNs() - Driver));
  }
  return 0;
}

} // namespace bench
