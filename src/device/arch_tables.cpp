#include "device/arch_tables.h"

// The rows name the device maker's GPU generations (fictional families here). Code 1 lists the
// family 0x1C00 while code 2 lists the full id 0x1C56 of that family: the lower code wins.
// Both tables are built ahead of the plugin state (priority 102), so nothing started at load can
// find them empty.
__attribute__((init_priority(101))) const std::map<uint64_t, std::vector<uint32_t>>
    DeviceArchPCIIds = {
    {DeviceArchGen1, {0x1A00, 0x1B00, 0x1C00, 0x1D10, 0x1D20}},
    {DeviceArchGen2, {0x2A00, 0x2B00, 0x2C00, 0x2D01, 0x2D02, 0x2E00, 0x1C56}},
    {DeviceArchGen3, {0x4A00, 0x4B07}},
    {DeviceArchGen4, {0x8A00, 0x8B00}},
};

__attribute__((init_priority(101))) const std::map<uint64_t, std::vector<std::string>>
    DeviceArchNames = {
    {DeviceArchGen1, {"Quillon G1", "Quillon G2", "Quillon Lite", "Quillon Pro", "Quillon Mobile"}},
    {DeviceArchGen2, {"Verdant X", "Verdant Max"}},
};

uint64_t matchDeviceArch(uint32_t PCIId, const std::string &Name) {
  if (PCIId != 0)
    for (const auto &[Code, Ids] : DeviceArchPCIIds)
      for (uint32_t Id : Ids)
        if (Id == PCIId || Id == (PCIId & 0xFF00))
          return Code;
  for (const auto &[Code, Substrings] : DeviceArchNames)
    for (const std::string &Sub : Substrings)
      if (Name.find(Sub) != std::string::npos)
        return Code;
  return DeviceArchNone;
}
