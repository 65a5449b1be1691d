// Lookup of unified-shared-memory allocations by any address inside them.
#pragma once

#include "state.h"

namespace fakecl {

// The allocation whose range holds Address, or null.
const UsmAlloc *findAllocation(const State &S, const void *Address);
void freeAllAllocations(State &S);

} // namespace fakecl
