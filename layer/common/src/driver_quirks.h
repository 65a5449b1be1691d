// What drivers do differently from what the layers promise, kept in one place.
#pragma once

#include "opencl_api.h"

// clSVMAlloc refuses alignments above this on the CPU driver; larger ones are over-allocated.
constexpr cl_uint kLargestDriverAlignment = 128;

// Host time in nanoseconds on the clock the CPU driver's event timestamps count, so that host
// and device times agree where a layer answers the timer queries itself.
cl_ulong hostNanoseconds();
