// The decoded kernel info record of one kernel: which arguments go by value, and the attributes
// and limits that steer work-group sizing.
#ifndef PROGRAM_KERNEL_INFO_H
#define PROGRAM_KERNEL_INFO_H

#include <cstdint>
#include <vector>

// Record versions the plugin understands.
constexpr uint32_t KernelInfoMinVersion = 1;
constexpr uint32_t KernelInfoMaxVersion = 5;

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
  std::vector<KernelArgInfoTy> Args; // in argument order; missing ones are not by value
};

// Bytes of the device record of a version with NumArgs arguments (0 for an unknown version).
uint64_t kernelInfoRecordSize(uint32_t Version, uint32_t NumArgs);

#endif
