// What every part of the benchmark does first: the host runtime's start-up calls, the scale of
// the run, and the comparisons shared by the fake driver and the real device.
#ifndef BENCH_BENCH_SESSION_H
#define BENCH_BENCH_SESSION_H

#include "bench_image.h"
#include "direct_driver.h"
#include "timing.h"

#include <string>

namespace bench {

// How long a run may take: the full run, --quick (well under two minutes) or --smoke (seconds,
// for CI: it only shows that every part runs).
enum class Scale { Full, Quick, Smoke };

inline int scaled(Scale S, int Full, int Quick, int Smoke) {
  return S == Scale::Full ? Full : S == Scale::Quick ? Quick : Smoke;
}

// Registers, discovers the devices and initialises device 0; false with a message on failure.
bool startDevice(HostPlugin &Plugin);

// Loads Image on device 0; null with a message on failure.
TargetTable *loadImage(HostPlugin &Plugin, BenchImage &Image);

// The first region of a loaded image and a device buffer for its pointer argument.
struct Region {
  void *Entry = nullptr;
  cl_kernel Kernel = nullptr;
  void *Buffer = nullptr;
};

// Whether the real device is reached through SVM calls (the layer over the CPU driver) or through
// the unified-shared-memory functions themselves (the fake driver).
enum class Memory { Svm, Usm };

// One launch of the region (one team of one thread) through the plugin; false when it failed.
bool launchThroughPlugin(HostPlugin &Plugin, const Region &R);

// Each comparison clears Ok when a call of either side fails.

// launchThroughPlugin versus setting the same arguments, enqueueing and waiting with plain calls.
PairNs compareLaunch(const Sampling &S, HostPlugin &Plugin, const DirectDriver &D,
                     const Region &R, Memory M, bool &Ok);
// One copy through the plugin versus a direct copy plus wait.
PairNs compareTransfer(const Sampling &S, HostPlugin &Plugin, const DirectDriver &D,
                       void *Device, void *Host, size_t Bytes, bool ToDevice, Memory M, bool &Ok);
// Allocating and deleting Bytes of device memory through the plugin versus the platform's own
// unified-shared-memory calls.
PairNs compareAllocation(const Sampling &S, HostPlugin &Plugin, const DirectDriver &D,
                         size_t Bytes, bool &Ok);

// Adds device allocations of a few bytes through the plugin until Live holds Count of them.
bool growAllocations(HostPlugin &Plugin, std::vector<void *> &Live, size_t Count);

} // namespace bench

#endif
