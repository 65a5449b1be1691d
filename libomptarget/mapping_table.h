// The per-device mapping table: host address ranges with their device copies and reference
// counts. Pure bookkeeping; the data mapper decides what to allocate and copy.
#ifndef LIBOMPTARGET_MAPPING_TABLE_H
#define LIBOMPTARGET_MAPPING_TABLE_H

#include <cstdint>
#include <map>
#include <vector>

// A pointer inside a mapped range whose device copy was made to point at device memory (attached):
// its host value is restored whenever the range is copied back, so the host never sees device
// addresses, and its device value whenever the range is copied to the device.
struct ShadowPointer {
  uintptr_t HostAddress;
  uintptr_t HostValue;
  uintptr_t DeviceValue; // rewritten on the device after a copy to it covers the pointer
};

struct MappingEntry {
  uintptr_t HostBegin = 0;
  uintptr_t HostEnd = 0;           // one past the last byte
  uintptr_t TgtBegin = 0;          // device address of HostBegin
  uint64_t DynamicRefCount = 0;    // target enter/exit data
  uint64_t StructuredRefCount = 0; // target, target data
  bool Permanent = false;          // declare target variables and associated memory: never unmapped
  bool OwnsMemory = false;         // device memory the runtime allocated: freed when unmapped
  bool Associated = false; // made by omp_target_associate_ptr; only disassociation removes it
  std::vector<ShadowPointer> Shadows;

  uintptr_t toDevice(uintptr_t Host) const { return TgtBegin + (Host - HostBegin); }
};

struct MappingTable {
  std::map<uintptr_t, MappingEntry> Entries; // by HostBegin; ranges never overlap
};

enum class RangeState {
  Absent,    // no byte of the range is mapped
  Contained, // one entry holds the whole range
  Extends    // the range overlaps mapped memory but is not inside one entry
};

struct RangeLookup {
  RangeState State = RangeState::Absent;
  MappingEntry *Entry = nullptr; // the containing entry, or an overlapping one for Extends
};

// Where [Begin, Begin + Size) stands. A zero-size range is contained when Begin lies inside an
// entry, absent otherwise.
RangeLookup lookupRange(MappingTable &Table, uintptr_t Begin, uint64_t Size);

MappingEntry &insertEntry(MappingTable &Table, const MappingEntry &Entry);
void eraseEntry(MappingTable &Table, uintptr_t HostBegin);

#endif
