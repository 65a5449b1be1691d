// The compiler's image descriptor and offload entries, as clang's linker wrapper lays them out,
// and their conversion to the plugin's 32-byte records.
#ifndef LIBOMPTARGET_OFFLOAD_ENTRIES_H
#define LIBOMPTARGET_OFFLOAD_ENTRIES_H

#include "omptarget_records.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {

// One entry of the host's "llvm_offload_entries" section (56 bytes).
struct CompilerOffloadEntry {
  uint64_t Reserved;
  uint16_t Version;
  uint16_t Kind; // 1: OpenMP
  uint32_t Flags;
  void *Address; // region id, host variable, or host function
  char *SymbolName;
  uint64_t Size;
  uint64_t Data;
  void *AuxAddr;
};

struct CompilerDeviceImage {
  void *ImageStart;
  void *ImageEnd;
  CompilerOffloadEntry *EntriesBegin;
  CompilerOffloadEntry *EntriesEnd;
};

struct CompilerBinaryDesc {
  int32_t NumDeviceImages;
  CompilerDeviceImage *DeviceImages;
  CompilerOffloadEntry *HostEntriesBegin;
  CompilerOffloadEntry *HostEntriesEnd;
};
}

static_assert(sizeof(CompilerOffloadEntry) == 56, "the compiler's offload entry is 56 bytes");
static_assert(sizeof(CompilerDeviceImage) == 32 && sizeof(CompilerBinaryDesc) == 32,
              "the compiler's image descriptors");

// Entry flags the compiler sets.
enum : uint32_t {
  EntryLink = 0x1,     // declare target link: Address is the host reference pointer
  EntryIndirect = 0x8, // a host function whose device address is wanted
  EntryRequires = 0x10 // a requires record, not a symbol
};

// The entries the plugin should see, in order: OpenMP entries other than requires records. An
// indirect function becomes a size-0 record with the plugin's function-pointer flag.
std::vector<OffloadEntry> convertEntries(const CompilerOffloadEntry *Begin,
                                         const CompilerOffloadEntry *End);

// Whether a converted entry is a target region (as opposed to a variable or function pointer).
inline bool isRegionEntry(const OffloadEntry &E) { return E.size == 0 && !(E.flags & 0x8); }

#endif
