// The device entry points a tool finds through the lookup function handed over with device
// initialisation, and the documentation text that describes them.
#ifndef OMPT_OMPT_ENTRIES_H
#define OMPT_OMPT_ENTRIES_H

#include <omp-tools.h>

// The entry of that exact name, or null.
ompt_interface_fn_t omptLookup(const char *Name);

extern const char *const OmptDocumentation;

#endif
