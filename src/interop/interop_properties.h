// Names and descriptions of the interop properties, by OpenMP property number (-9 to -1).
#ifndef INTEROP_INTEROP_PROPERTIES_H
#define INTEROP_INTEROP_PROPERTIES_H

#include <cstdint>

// The name (InfoKind 0) or description (InfoKind 1) of Property; null for any other number or
// kind. The text is a constant of the library.
const char *interopPropertyInfo(int32_t Property, int32_t InfoKind);

#endif
