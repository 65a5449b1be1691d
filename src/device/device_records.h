// Per-device records filled at initialisation: extension support and hardware properties.
#ifndef DEVICE_DEVICE_RECORDS_H
#define DEVICE_DEVICE_RECORDS_H

#include <cstdint>
#include <string>
#include <vector>

// Extension status values.
enum : uint8_t { ExtensionNotFound = 0, ExtensionSupported = 2 };

struct LibdeviceExtensionTy {
  const char *ExtensionName;
  const char *FallbackLibrary; // SPIR-V file beside the plugin, linked when the device lacks it
  uint8_t Status;
};

struct DeviceExtensionsTy {
  uint8_t UnifiedSharedMemory = ExtensionNotFound;
  uint8_t DeviceAttributeQuery = ExtensionNotFound;
  uint8_t GetDeviceGlobalVariablePointer = ExtensionNotFound;
  uint8_t GetKernelSuggestedLocalWorkSize = ExtensionNotFound;
  std::vector<LibdeviceExtensionTy> LibdeviceExtensions;

  // Every device starts with its own copy of the device-library list.
  DeviceExtensionsTy();
};

struct DevicePropertiesTy {
  uint32_t DeviceId = 0; // PCI device id; 0 without the attribute query
  uint32_t NumSlices = 0;
  uint32_t NumSubslicesPerSlice = 0;
  uint32_t NumEUsPerSubslice = 0;
  uint32_t NumThreadsPerEU = 0;
  uint32_t NumHWThreads = 0;
  uint32_t NumEUs = 0;
  std::string Name;
  uint64_t MaxWorkGroupSize = 0;
  uint64_t LocalMemSize = 0;
  uint64_t GlobalMemSize = 0;
  uint64_t GlobalMemCacheSize = 0;
  uint64_t MaxMemAllocSize = 0;
  uint32_t MaxClockFrequency = 0;
};

#endif
