// Test images for program loading over the fake driver: module bytes that the fake driver reads
// its manifest from, and host offload entry tables with the names they point at.
#ifndef TESTS_UNIT_PROGRAM_FAKE_DRIVER_H
#define TESTS_UNIT_PROGRAM_FAKE_DRIVER_H

#include "memory_fake_driver.h"
#include "omptarget_records.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <regex>
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

using LoadedBody = std::function<void(TargetTable &, const fakecl_control_v1 &)>;

// Loads Manifest with Host's entries on device 0 through the shared plugin; exit 7 when the load
// failed, else Body runs on the returned table (it may print what it finds).
inline ChildResult loadShared(const std::string &Layout, const std::string &Manifest,
                              HostEntries &Host, const EnvironmentList &Env,
                              const std::string &Faults, const LoadedBody &Body = nullptr) {
  return memtest::runPlugin(Layout, Faults, Env,
                            [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
                              std::vector<uint8_t> Bytes = spirvModule(Manifest);
                              DeviceImage Image = imageOf(Bytes, Host);
                              TargetTable *Table = P.load_binary(0, &Image);
                              if (!Table)
                                return 7;
                              if (Body)
                                Body(*Table, Fake);
                              return 0;
                            });
}

using LinkedCheck =
    std::function<int(OpenCLProgramTy &, TargetTable *, const fakecl::Client &)>;

// Loads Manifest with Host's entries on device 0 of the plugin linked into the test and runs
// Check on the new program and the returned table (null when the load failed).
inline ChildResult loadLinked(const std::string &Layout, const std::string &Manifest,
                              HostEntries &Host, const LinkedCheck &Check,
                              const std::string &Faults = "") {
  return memtest::runLinked(Layout, Faults, nullptr, [&](const fakecl::Client &Fake) {
    std::vector<uint8_t> Bytes = spirvModule(Manifest);
    DeviceImage Image = imageOf(Bytes, Host);
    TargetTable *Table = __tgt_rtl_load_binary(0, &Image);
    return Check(DeviceInfo->Programs[0].back(), Table, Fake);
  });
}

// The quoted option texts of every call of Function in the fake driver's call record, in order.
inline std::vector<std::string> optionsOf(const std::string &Log, const std::string &Function) {
  std::vector<std::string> Found;
  std::regex Call("^" + Function + "\\([^\"]*\"([^\"]*)\"");
  for (const std::string &Line : splitLines(Log)) {
    std::smatch M;
    if (std::regex_search(Line, M, Call))
      Found.push_back(M[1]);
  }
  return Found;
}

} // namespace progtest

#endif
