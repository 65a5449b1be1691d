// The decoded kernel info record of one kernel: which arguments go by value, and the attributes
// and limits that steer work-group sizing.
#ifndef PROGRAM_KERNEL_INFO_H
#define PROGRAM_KERNEL_INFO_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Record versions the plugin understands.
constexpr uint32_t KernelInfoMinVersion = 1;
constexpr uint32_t KernelInfoMaxVersion = 5;

// The most arguments a record may declare. A kernel's arguments must fit in the device's
// parameter space (a few kilobytes), so a larger count is a corrupt record; it is not read, so a
// wild count never makes the plugin allocate or copy past the device global.
constexpr uint32_t KernelInfoMaxArgs = 4096;

// Attributes bits.
enum : uint64_t {
  KernelInfoAttrTeamsReduction = 0x1,  // the kernel reduces across teams
  KernelInfoAttrSpecificNDRange = 0x2, // the kernel accepts a specific ND-range
};

struct KernelArgInfoTy {
  bool ByValue = false;
  uint32_t ArgSize = 0;
};

struct KernelInfoTy {
  uint32_t Version = 0;
  uint64_t Attributes = 0;   // from version 2
  uint64_t MaxTeamCount = 0; // from version 3; 0 means no cap
  uint64_t MaxTeamSize = 0;  // from version 4; 0 means no cap
  // One element per argument the record declares, in argument order. The record may declare
  // fewer arguments than the kernel has: users must treat an index at or past Args.size() as an
  // argument that is not passed by value.
  std::vector<KernelArgInfoTy> Args;

  bool isArgByValue(size_t Index) const { return Index < Args.size() && Args[Index].ByValue; }
};

// Bytes of the device record of a version with NumArgs arguments (0 for an unknown version).
// Computed in 64 bits, so no count overflows it.
uint64_t kernelInfoRecordSize(uint32_t Version, uint32_t NumArgs);

#endif
