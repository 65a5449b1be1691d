// The parts of the benchmark. Each runs in a child process of its own and reports its figures as
// rows on standard output (figures.h); a non-zero result means a call failed.
#ifndef BENCH_PARTS_H
#define BENCH_PARTS_H

#include "bench_session.h"
#include "fakecl_control.h"

#include <string>

namespace bench {

// The plugin's own time against the fake driver, whose recording is turned off. Variant is "" (no
// debugging or profiling), "profile" or "debug1", matching the child's environment; queries over
// growing allocation tables run in the "" variant only.
int fakeDriverPart(Scale S, const std::string &Variant, HostPlugin &Plugin,
                   const fakecl_control_v1 &Fake);

// Launches, transfers, allocation and concurrency on the real device through the layer.
int devicePart(Scale S, HostPlugin &Plugin);

// Launch cost in contexts of its own, against allocations churned in the same or another
// context (the shared-memory layer's rows of the device part); false when a call failed.
bool layerChurnRows(Scale S, const DirectDriver &D);

// Two loads of the image with Count regions, split into the driver's time and the rest. The
// driver clock layer must sit directly above the driver.
int loadPart(int Count, bool DeviceLibraries, HostPlugin &Plugin);

} // namespace bench

#endif
