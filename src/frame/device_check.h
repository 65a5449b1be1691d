// The device-number check of the entry points that take a device number.
#ifndef FRAME_DEVICE_CHECK_H
#define FRAME_DEVICE_CHECK_H

#include <cstdint>

// Whether DeviceId names a discovered device of the live plugin and, with MustBeInitialized, one
// whose initialisation succeeded. Otherwise writes "Bad device ID %d" and answers false, so a
// wrong number never reaches the per-device arrays.
bool checkDeviceId(int32_t DeviceId, bool MustBeInitialized = true);

#endif
