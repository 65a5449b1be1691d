// Handles the layer tracks: contexts, queues, unified-shared-memory allocations and kernels.
// All of it is guarded by one mutex; nothing holds it across a call into the driver that may wait.
#pragma once

#include "opencl_api.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

enum class AllocKind { Host, Device, Shared, ProgramGlobals };

struct ContextRecord {
  cl_uint RefCount = 1;
  cl_platform_id Platform = nullptr;
  std::vector<cl_device_id> Devices;
  // True when the layer serves the shared-memory extension for this context itself.
  bool EmulatesUsm = false;
  bool FineGrainBuffers = false;
  // True when the layer compiles SPIR-V programs for this context itself.
  bool TranslatesSpirv = false;
  cl_ulong MaxAllocSize = 0;
};

struct QueueRecord {
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
};

struct AllocationRecord {
  void *Base = nullptr; // what clSVMAlloc returned (below the user pointer when over-aligned)
  size_t Size = 0;      // bytes usable from the user pointer
  AllocKind Kind = AllocKind::Device;
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
};

struct KernelRecord {
  cl_uint RefCount = 1;
  cl_program LayerProgram = nullptr; // the program the layer built the kernel for, if any
  cl_context Context = nullptr;
  void *GlobalsBlock = nullptr;      // the program's variables, which every launch may reach
  cl_uint HiddenArgument = 0;        // 1 + the index of the argument that carries GlobalsBlock
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

struct LayerState {
  std::mutex Lock;
  std::map<cl_context, ContextRecord> Contexts;
  std::map<cl_command_queue, QueueRecord> Queues;
  std::map<const void *, AllocationRecord> Allocations; // keyed by the user pointer
  std::map<cl_kernel, KernelRecord> Kernels;
  // Changes with every allocation made or freed; starts above the zero of a fresh cache.
  uint64_t AllocationGeneration = 1;
  // Keyed by context and a mask of kinds (1 host, 2 device, 4 shared).
  std::map<std::pair<cl_context, unsigned>, PointerListCache> PointerLists;
};

LayerState &layerState();

// Allocation records change only through these two, so that cached pointer lists notice; the
// caller holds the lock.
void addAllocation(LayerState &State, const void *User, const AllocationRecord &Record);
void eraseAllocation(LayerState &State, const void *User);

// Finds the allocation holding Ptr (interior pointers included); the caller holds the lock.
const std::pair<const void *const, AllocationRecord> *findAllocation(LayerState &State,
                                                                     const void *Ptr);

// Whether a handle was created through the layer and is still alive; unknown handles get error
// codes instead of being passed to the loader, which would dereference them.
bool queueKnown(cl_command_queue Queue);
bool kernelKnown(cl_kernel Kernel);

// Waits for every command queued in the context, without the layer's lock held meanwhile; the
// first failure to retain or finish a queue, or CL_SUCCESS.
cl_int finishContextQueues(cl_context Context);

// Installs the handlers for context, queue and kernel creation and release.
void installTrackingHooks(cl_icd_dispatch &Table);
