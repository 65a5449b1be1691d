// Plain OpenCL access to what the plugin set up for a device (its context, device and kernels), so
// that each plugin call can be compared with the driver calls it stands for, in the same process
// and through the same loader and layers.
#ifndef BENCH_DIRECT_DRIVER_H
#define BENCH_DIRECT_DRIVER_H

#include "host_plugin.h"

#include <CL/cl.h>

namespace bench {

struct DirectDriver {
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
  cl_platform_id Platform = nullptr;
  cl_command_queue Queue = nullptr; // our own, in order, like the plugin's
  cl_int (*SetArgPointer)(cl_kernel, cl_uint, const void *) = nullptr;
  cl_int (*Memcpy)(cl_command_queue, cl_bool, void *, const void *, size_t, cl_uint,
                   const cl_event *, cl_event *) = nullptr;
  void *(*DeviceAlloc)(cl_context, cl_device_id, const cl_ulong *, size_t, cl_uint,
                       cl_int *) = nullptr;
  cl_int (*BlockingFree)(cl_context, void *) = nullptr;
};

// The plugin's context for the device, its device and platform, a new queue and the
// unified-shared-memory functions of the platform; false (with a message) when any is missing.
bool openDirectDriver(HostPlugin &Plugin, int32_t DeviceId, DirectDriver &D);
void closeDirectDriver(DirectDriver &D);

// The OpenCL kernel behind a device entry of the plugin's target table.
inline cl_kernel kernelOf(const OffloadEntry &Entry) {
  return *static_cast<cl_kernel *>(Entry.address);
}

// Waits for and releases an event; false when the wait failed.
bool finish(cl_event Event);

} // namespace bench

#endif
