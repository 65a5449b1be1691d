// Which device a construct runs on: the device clause, the default device of the host OpenMP
// runtime (omp_set_default_device, OMP_DEFAULT_DEVICE), and OMP_TARGET_OFFLOAD.
#ifndef LIBOMPTARGET_DEVICE_SELECT_H
#define LIBOMPTARGET_DEVICE_SELECT_H

#include <cstdint>

// The compiler's "no device clause" value.
constexpr int64_t DefaultDeviceId = -1;
// omp_invalid_device: selecting it is a runtime error.
constexpr int64_t InvalidDeviceId = -2;

// The device number the construct runs on, or -1 for the host (initial device, offloading
// disabled, or, after the message the policy asks for, no usable device or a number out of
// range). Under MANDATORY the failures are fatal and name the construct and Call.
int32_t selectDevice(int64_t DeviceId, const char *Construct, const void *Loc, const char *Call);

// The same for the device memory routines, which take device numbers and never fall back: the
// device number, -1 for the initial device, or -2 (after a message) for a bad number.
int32_t checkRoutineDevice(int64_t DeviceId, const char *Routine);

#endif
