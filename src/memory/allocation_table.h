// Tracking of the allocations the plugin hands out, by address range.
#ifndef MEMORY_ALLOCATION_TABLE_H
#define MEMORY_ALLOCATION_TABLE_H

#include "memory/address_index.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

struct AllocationInfo {
  void *Base = nullptr; // what the allocation call returned; what is freed
  uint64_t Size = 0;    // the size the caller asked for
  int32_t Kind = 0;     // 0 device, 1 host, 2 shared
  bool ImplicitArg = false;
};

// One table per device (and one for host memory shared by a platform's devices). A record's key
// is the pointer handed out; it covers Base up to, not including, key + Size. Every operation
// holds Lock for its whole duration and no other lock, so callers may hold a device mutex.
struct AllocationTable {
  AddressIndex<AllocationInfo> Allocations;  // keyed by the handed-out address
  std::map<int32_t, int32_t> ImplicitCounts;       // per kind, records with ImplicitArg set
  // Keys of the records with ImplicitArg set, and their list as collectImplicit hands it out,
  // rebuilt only after the set changed: launches read it on every call, while the table itself
  // may hold many more allocations.
  std::set<uintptr_t> ImplicitKeys;
  std::vector<void *> ImplicitList;
  bool ImplicitListStale = false;
  // Changes with every record added or removed, so that users can tell whether what they
  // derived from the table is still current without taking the lock.
  std::atomic<uint64_t> Generation{0};
  std::mutex Lock; // guards every member but Generation, which changes under it

  // Inserts the record unless the key is present; the implicit count grows either way.
  void add(void *Key, void *Base, uint64_t Size, int32_t Kind, bool ImplicitArg);
  // Erases the record with exactly this key and hands it back; false when there is none.
  bool remove(void *Key, AllocationInfo &Info);
  // The record with exactly this key.
  std::optional<AllocationInfo> find(void *Key);
  // The record whose range holds Ptr.
  std::optional<AllocationInfo> findContaining(void *Ptr);
  // Whether the record with the greatest key not above Ptr reaches at least to Ptr + Size.
  bool reaches(void *Ptr, uint64_t Size);
  // Whether any implicit record of the kind exists; kind 3 asks for any of host, device, shared.
  bool hasImplicit(int32_t Kind);
  // Appends the key of every implicit record, in key order.
  void collectImplicit(std::vector<void *> &Keys);
};

#endif
