// What the map clauses of a construct do to one device: the compiler's argument arrays (base
// addresses, begin addresses, sizes, map types) applied to the device's mapping table, with the
// allocations and copies done through DeviceOps. Pure logic over the table: the runtime binds
// DeviceOps to the plugin, tests to a recording fake.
#ifndef LIBOMPTARGET_DATA_MAPPER_H
#define LIBOMPTARGET_DATA_MAPPER_H

#include "mapping_table.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Map-type bits the compiler emits.
enum : uint64_t {
  MapTo = 0x1,
  MapFrom = 0x2,
  MapAlways = 0x4,
  MapDelete = 0x8,
  MapPtrAndObj = 0x10,
  MapTargetParam = 0x20,
  MapReturnParam = 0x40,
  MapPrivate = 0x80,
  MapLiteral = 0x100,
  MapImplicit = 0x200,
  MapClose = 0x400,
  MapPresent = 0x1000,
  MapHold = 0x2000,
  MapAttach = 0x4000,
  MapMemberOf = 0xffff000000000000ull
};

// A device's memory operations; each status call returns 0 on success.
struct DeviceOps {
  std::function<void *(int64_t Size, void *HostPtr)> Alloc;
  std::function<int32_t(void *TgtPtr)> Free;
  std::function<int32_t(void *TgtPtr, void *HostPtr, int64_t Size)> Submit;
  std::function<int32_t(void *HostPtr, void *TgtPtr, int64_t Size)> Retrieve;
};

// The compiler's arrays for one construct. Bases is written for use_device_ptr/addr entries.
struct MapList {
  int32_t Count = 0;
  void **Bases = nullptr;
  void **Begins = nullptr;
  const int64_t *Sizes = nullptr;
  const int64_t *Types = nullptr;
  void *const *Names = nullptr; // may be null
};

// Target regions and target data count structured references; enter/exit data dynamic ones.
enum class RefKind { Structured, Dynamic };

// A kernel's arguments as the plugin takes them: a device address plus an offset, or a 64-bit
// value with the offset INT64_MAX.
struct KernelArgument {
  void *Value;
  ptrdiff_t Offset;
};

struct RegionArgs {
  std::vector<KernelArgument> Args;   // one per target-parameter entry, in map order
  std::vector<void *> PrivateBuffers; // device copies of firstprivate aggregates, freed after
};

// Maps the list: allocates what is absent, counts references, copies to the device, attaches
// pointers, and (with Region) collects the kernel's arguments. 0, or -1 after a message.
int32_t mapBegin(MappingTable &Table, const DeviceOps &Ops, const MapList &List, RefKind Kind,
                 RegionArgs *Region);
// Unmaps the list: releases references, copies back what leaves the device or is always copied,
// and frees the memory of entries no longer referenced. 0, or -1 after a message.
int32_t mapEnd(MappingTable &Table, const DeviceOps &Ops, const MapList &List, RefKind Kind);
// target update: copies present ranges to or from the device. 0, or -1 after a message.
int32_t mapUpdate(MappingTable &Table, const DeviceOps &Ops, const MapList &List);
void freePrivateBuffers(const DeviceOps &Ops, RegionArgs &Region);

#endif
