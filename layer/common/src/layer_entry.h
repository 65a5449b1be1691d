// What each layer library gives the shared entry points: its name and the hooks it installs over
// the next level's table (already copied into gNext and the layer's own table).
#pragma once

#include "opencl_api.h"

extern const char kLayerName[];
void installLayerHooks(cl_icd_dispatch &Table);
