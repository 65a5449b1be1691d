// Architecture codes and the tables that map a device to one.
#ifndef DEVICE_ARCH_TABLES_H
#define DEVICE_ARCH_TABLES_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Single bits, so that a set of codes is a mask.
enum : uint64_t {
  DeviceArchNone = 0,
  DeviceArchGen1 = 1,
  DeviceArchGen2 = 2,
  DeviceArchGen3 = 4,
  DeviceArchGen4 = 8,
  DeviceArchCPU = 256,
};

// Code -> PCI device ids: an id family (low byte 0) or a full id.
extern const std::map<uint64_t, std::vector<uint32_t>> DeviceArchPCIIds;
// Code -> substrings of device names.
extern const std::map<uint64_t, std::vector<std::string>> DeviceArchNames;

// The code of a device from its PCI id (when known, 0 otherwise) and name; 0 when nothing matches.
uint64_t matchDeviceArch(uint32_t PCIId, const std::string &Name);

#endif
