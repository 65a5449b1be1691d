// The interop record the plugin hands to the host runtime. The host reads the slots in place:
// slot k holds the value of interop property -(k+1), so order and widths are fixed.
#ifndef OMPTARGET_INTEROP_H
#define OMPTARGET_INTEROP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct InteropRecord {
  intptr_t fr_id;          // 3: OpenCL
  const char *fr_name;     // "opencl"
  intptr_t vendor;         // 8
  const char *vendor_name; // "tarno"
  intptr_t device_num;     // the OpenMP device number
  void *platform;          // cl_platform_id, kinds 0 and 1 only
  void *device;            // cl_device_id, kinds 0 and 1 only
  void *device_context;    // cl_context, kinds 0 and 1 only
  void *targetsync;        // cl_command_queue of this record, kind 1 only
  void *plugin_property;   // a plugin-owned block, never null in a live record
  uint64_t reserved[4];
} InteropRecord;

#ifdef __cplusplus
}
static_assert(sizeof(InteropRecord) == 14 * 8, "fourteen 8-byte slots");
static_assert(offsetof(InteropRecord, device_num) == 4 * 8 &&
                  offsetof(InteropRecord, targetsync) == 8 * 8 &&
                  offsetof(InteropRecord, plugin_property) == 9 * 8,
              "slot k holds property -(k+1)");
#endif

#endif
