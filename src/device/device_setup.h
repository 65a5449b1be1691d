// What device initialisation learns about a device: extensions, properties, architecture.
#ifndef DEVICE_DEVICE_SETUP_H
#define DEVICE_DEVICE_SETUP_H

#include "frame/opencl.h"

#include <cstdint>

// Fills Extensions[DeviceId]; 0, or -1 when the extension text cannot be read.
int32_t getExtensionsInfoForDevice(int32_t DeviceId);
// Fills DeviceProperties[DeviceId] from the device; 0, or -1 on the first failed query.
int32_t getDeviceProperties(int32_t DeviceId, bool HasDeviceAttributeQuery);
// The architecture code of an initialised device; never fails.
uint64_t decideDeviceArch(int32_t DeviceId);

#endif
