#include "interop/interop_properties.h"

#include <cstddef>

namespace {

// Indexed by property number + 9: omp_ipr_targetsync (-9) first, omp_ipr_fr_id (-1) last.
constexpr size_t NumProperties = 9;
constexpr const char *PropertyNames[NumProperties] = {"targetsync", "device_context", "device",
                                                      "platform",   "device_num",     "vendor_name",
                                                      "vendor",     "fr_name",        "fr_id"};
constexpr const char *PropertyDescriptions[NumProperties] = {
    "cl_command_queue, opencl command queue handle",
    "cl_context, opencl context handle",
    "cl_device_id, opencl device handle",
    "cl_platform_id, opencl platform handle",
    "intptr_t, OpenMP device ID",
    "const char *, vendor name",
    "intptr_t, vendor ID",
    "const char *, foreign runtime name",
    "intptr_t, foreign runtime ID"};

} // namespace

const char *interopPropertyInfo(int32_t Property, int32_t InfoKind) {
  // In 64 bits: the largest property numbers must not wrap into the table.
  int64_t Index = int64_t(Property) + int64_t(NumProperties);
  if (Index < 0 || Index >= int64_t(NumProperties))
    return nullptr;
  if (InfoKind == 0)
    return PropertyNames[Index];
  if (InfoKind == 1)
    return PropertyDescriptions[Index];
  return nullptr;
}
