// What the shared-memory layer keeps besides contexts and queues: allocations and the kernels'
// indirect-access settings. Guarded by the layer state's lock.
#pragma once

#include "layer_state.h"

#include <cstdint>

enum class AllocKind { Host, Device, Shared };

struct AllocationRecord {
  void *Base = nullptr; // what clSVMAlloc returned (below the user pointer when over-aligned)
  size_t Size = 0;      // bytes usable from the user pointer
  AllocKind Kind = AllocKind::Device;
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
};

struct KernelRecord {
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
  // The CL_KERNEL_EXEC_INFO_SVM_PTRS list the caller set, sent merged with the layer's own.
  std::vector<void *> CallerPointers;
  std::vector<void *> IndirectPointers;
  bool IndirectHost = false;
  bool IndirectDevice = false;
  bool IndirectShared = false;
  // The allocation generation whose pointer list the driver last got; the list is sent again
  // only when allocations or the kernel's settings changed since.
  bool ListSent = false;
  uint64_t SentGeneration = 0;
};

// Bases of a context's allocations of some kinds, sorted, as of one allocation generation.
struct PointerListCache {
  uint64_t Generation = 0;
  std::vector<void *> Bases;
};

struct UsmState {
  std::map<const void *, AllocationRecord> Allocations; // keyed by the user pointer
  std::map<cl_kernel, KernelRecord> Kernels;
  // Changes with every allocation made or freed; starts above the zero of a fresh cache.
  uint64_t AllocationGeneration = 1;
  // Keyed by context and a mask of kinds (1 host, 2 device, 4 shared).
  std::map<std::pair<cl_context, unsigned>, PointerListCache> PointerLists;
};

// The caller holds layerState().Lock.
UsmState &usmState();

// Allocation records change only through these two, so that cached pointer lists notice.
void addAllocation(UsmState &State, const void *User, const AllocationRecord &Record);
void eraseAllocation(UsmState &State, const void *User);
// Finds the allocation holding Ptr (interior pointers included).
const std::pair<const void *const, AllocationRecord> *findAllocation(UsmState &State,
                                                                     const void *Ptr);

bool kernelKnown(cl_kernel Kernel);

void installUsmKernelHooks(cl_icd_dispatch &Table);
void installUsmQueryHooks(cl_icd_dispatch &Table);
