// What the shared-memory layer keeps besides contexts and queues: allocations, per-context sets
// of their bases, the programs and kernels it counts as children of their contexts, and the
// kernels' indirect-access settings. Guarded by the layer state's lock.
#pragma once

#include "layer_state.h"

#include <cstdint>

enum class AllocKind { Host, Device, Shared };
constexpr unsigned kAllocKinds = 3;

struct AllocationRecord {
  void *Base = nullptr; // what clSVMAlloc returned (below the user pointer when over-aligned)
  size_t Size = 0;      // bytes usable from the user pointer
  AllocKind Kind = AllocKind::Device;
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
};

// A context's allocation bases, one sorted set per kind kept so as allocations come and go, and
// the lists of several kinds merged from them on demand.
struct ContextAllocations {
  // Changes with every allocation made or freed in this context only.
  uint64_t Generation = 1;
  std::vector<void *> Bases[kAllocKinds];
  struct MergedList {
    uint64_t Generation = 0;
    std::vector<void *> Bases;
  };
  std::map<unsigned, MergedList> Merged; // keyed by a mask of kinds of two or more bits
};

struct KernelRecord {
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
  // The CL_KERNEL_EXEC_INFO_SVM_PTRS list the caller set, sent merged with the layer's own.
  std::vector<void *> CallerPointers;
  std::vector<void *> IndirectPointers;
  unsigned IndirectKinds = 0; // bit 1 << AllocKind for each kind reachable indirectly
  // The context's allocation generation whose pointer list the driver last got; the list is
  // sent again only when allocations or the kernel's settings changed since.
  bool ListSent = false;
  bool SentNonEmpty = false;
  uint64_t SentGeneration = 0;
};

struct ProgramCount {
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
};

struct UsmState {
  std::map<const void *, AllocationRecord> Allocations; // keyed by the user pointer
  std::map<cl_context, ContextAllocations> PerContext;
  std::map<cl_kernel, KernelRecord> Kernels;
  std::map<cl_program, ProgramCount> Programs;
};

// The caller holds layerState().Lock (shared for reading).
UsmState &usmState();

unsigned kindBit(AllocKind Kind);

// Allocation records change only through these two, so that the per-context sets follow.
void addAllocation(UsmState &State, const void *User, const AllocationRecord &Record);
void eraseAllocation(UsmState &State, const void *User);
// Finds the allocation holding Ptr (interior pointers included).
const std::pair<const void *const, AllocationRecord> *findAllocation(UsmState &State,
                                                                     const void *Ptr);

bool kernelKnown(cl_kernel Kernel);

void installUsmKernelHooks(cl_icd_dispatch &Table);
void installUsmProgramHooks(cl_icd_dispatch &Table);
void installUsmQueryHooks(cl_icd_dispatch &Table);
