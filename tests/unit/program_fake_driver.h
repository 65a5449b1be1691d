// Test images for program loading over the fake driver: module bytes that the fake driver reads
// its manifest from, and host offload entry tables with the names they point at.
#ifndef TESTS_UNIT_PROGRAM_FAKE_DRIVER_H
#define TESTS_UNIT_PROGRAM_FAKE_DRIVER_H

#include "omptarget_records.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace progtest {

// A module as the plugin sees bare SPIR-V: the magic number in host byte order, then the fake
// driver's manifest ("FAKECL-MODULE" and its lines), NUL-terminated.
inline std::vector<uint8_t> spirvModule(const std::string &Manifest) {
  const uint32_t Magic = 0x07230203;
  std::vector<uint8_t> Bytes(sizeof(Magic));
  std::memcpy(Bytes.data(), &Magic, sizeof(Magic));
  std::string Text = "\nFAKECL-MODULE\n" + Manifest + "\n";
  Bytes.insert(Bytes.end(), Text.begin(), Text.end());
  Bytes.push_back(0);
  return Bytes;
}

// A host offload entry table; names are kept alive by the table itself.
struct HostEntries {
  std::deque<std::string> Names;
  std::vector<OffloadEntry> Entries;

  // A null Name makes an entry without a name.
  HostEntries &add(const char *Name, uint64_t Size = 0, int32_t Flags = 0,
                   void *Address = nullptr) {
    char *NamePtr = nullptr;
    if (Name) {
      Names.emplace_back(Name);
      NamePtr = &Names.back()[0];
    }
    Entries.push_back(OffloadEntry{Address, NamePtr, Size, Flags, 0});
    return *this;
  }
};

// The host's descriptor of Bytes with the given entries (both must outlive its use).
inline DeviceImage imageOf(std::vector<uint8_t> &Bytes, HostEntries &Host) {
  OffloadEntry *Begin = Host.Entries.empty() ? nullptr : Host.Entries.data();
  return DeviceImage{Bytes.data(), Bytes.data() + Bytes.size(), Begin,
                     Begin ? Begin + Host.Entries.size() : nullptr};
}

} // namespace progtest

#endif
