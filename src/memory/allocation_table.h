// Tracking of the allocations the plugin hands out, by address range.
#ifndef MEMORY_ALLOCATION_TABLE_H
#define MEMORY_ALLOCATION_TABLE_H

#include <cstdint>
#include <map>
#include <mutex>

struct AllocationInfo {
  void *Base = nullptr; // what the allocation call returned; what is freed
  uint64_t Size = 0;    // the size the caller asked for
  int32_t Kind = 0;     // 0 device, 1 host, 2 shared
  bool ImplicitArg = false;
};

struct AllocationTable {
  std::map<uintptr_t, AllocationInfo> Allocations; // keyed by the handed-out address
  std::map<int32_t, int32_t> ImplicitCounts;       // per kind, records with ImplicitArg set
  std::mutex Lock;                                 // guards both maps
};

#endif
