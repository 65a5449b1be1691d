// Allocation of unified shared memory for the host runtime and for the plugin's own needs.
#ifndef MEMORY_DATA_ALLOC_H
#define MEMORY_DATA_ALLOC_H

#include "frame/opencl.h"

#include <cstdint>
#include <memory>
#include <vector>

// Pointers in messages: 16 hexadecimal digits, zero-padded.
#define DPxMOD "0x%0*llx"
#define DPxPTR(Ptr) 16, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Ptr))

// Allocation kinds of the entry points.
enum : int32_t {
  AllocKindDevice = 0,
  AllocKindHost = 1,
  AllocKindShared = 2,
  AllocKindDefault = 3, // device memory
};

// The zero-terminated property list of an allocation of Size bytes: on a GPU an allocation above
// the device's largest single allocation asks for the driver's permission to exceed it.
std::unique_ptr<std::vector<cl_ulong>> makeAllocProperties(int32_t DeviceId, uint64_t Size);

// Device memory for a host object at HstPtr whose mapped region begins at HstBase: the returned
// pointer sits at the same offset from the allocation as HstPtr from HstBase. Null on failure.
void *dataAlloc(int32_t DeviceId, int64_t Size, void *HstPtr, void *HstBase, bool ImplicitArg,
                uint64_t Align);

// Memory of the given kind (0 device, 1 host, 2 shared); another kind ends the process.
void *dataAllocExplicit(int32_t DeviceId, int64_t Size, int32_t Kind, uint64_t Align);

// The driver's memory type of Ptr (0x4196 unknown, 0x4197 host, 0x4198 device, 0x4199 shared);
// unknown when the query fails.
cl_uint getMemAllocType(int32_t DeviceId, const void *Ptr);

// The table that records host memory of a device: the shared one in single-context mode.
struct AllocationTable;
AllocationTable &hostAllocationTable(int32_t DeviceId);

#endif
