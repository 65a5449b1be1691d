// The memory entry points: allocation of each kind, realloc, delete and the pointer queries.
#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/device_check.h"
#include "frame/plugin_state.h"
#include "memory/data_alloc.h"
#include "memory/data_transfer.h"
#include "omptargetplugin.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int32_t AllocOptionZeroFill = 2;

int32_t explicitKind(int32_t Kind) { return Kind == AllocKindDefault ? AllocKindDevice : Kind; }

// The record of a handed-out pointer: the device's table first, then in single-context mode the
// platform's host table.
std::optional<AllocationInfo> findRecord(int32_t DeviceId, void *Ptr) {
  auto Info = DeviceInfo->AllocationTables[DeviceId]->find(Ptr);
  if (!Info && DeviceInfo->singleContext())
    Info = DeviceInfo->AllocationTables[DeviceInfo->NumDevices]->find(Ptr);
  return Info;
}

} // namespace

extern "C" {

void *__tgt_rtl_data_alloc(int32_t DeviceId, int64_t Size, void *HstPtr, int32_t Kind) {
  if (!checkDeviceId(DeviceId))
    return nullptr;
  // Memory mapped for a host object is device memory whatever kind is asked for.
  if (Kind == AllocKindDefault || HstPtr)
    return dataAlloc(DeviceId, Size, HstPtr, HstPtr, HstPtr == nullptr, 0);
  return dataAllocExplicit(DeviceId, Size, Kind, 0);
}

void *__tgt_rtl_data_alloc_base(int32_t DeviceId, int64_t Size, void *HstPtr, void *HstBase,
                                int32_t AllocOption) {
  if (!checkDeviceId(DeviceId))
    return nullptr;
  void *TgtPtr = dataAlloc(DeviceId, Size, HstPtr, HstBase, false, 0);
  if (!TgtPtr || AllocOption != AllocOptionZeroFill)
    return TgtPtr;
  if (Size == 0)
    return submitData(DeviceId, TgtPtr, nullptr, 0) == 0 ? TgtPtr : nullptr;
  // The allocation stays recorded when the fill fails; the host runtime only sees no pointer.
  // A size the host cannot mirror is such a failure, not an exception out of this entry point.
  std::unique_ptr<char[]> Zeros(new (std::nothrow) char[static_cast<size_t>(Size)]());
  if (!Zeros) {
    DP("Error: cannot allocate %zu bytes to zero-fill " DPxMOD "\n", static_cast<size_t>(Size),
       DPxPTR(TgtPtr));
    return nullptr;
  }
  return submitData(DeviceId, TgtPtr, Zeros.get(), Size) == 0 ? TgtPtr : nullptr;
}

void *__tgt_rtl_data_aligned_alloc(int32_t DeviceId, uint64_t Align, int64_t Size, int32_t Kind) {
  if (!checkDeviceId(DeviceId))
    return nullptr;
  if (Align & (Align - 1)) {
    DP("Error: Alignment %zu is not power of two.\n", static_cast<size_t>(Align));
    return nullptr;
  }
  return dataAllocExplicit(DeviceId, Size, explicitKind(Kind), Align);
}

int32_t __tgt_rtl_data_delete(int32_t DeviceId, void *TgtPtr) {
  if (!checkDeviceId(DeviceId))
    return -1;
  // Without the free function nothing can be freed: the record stays and the delete fails.
  auto Free = reinterpret_cast<clMemBlockingFreeTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtMemBlockingFree));
  if (!Free) {
    DP("Error: %s:%s is not available\n", "__tgt_rtl_data_delete", "clMemBlockingFreeTARNO");
    return -1;
  }
  AllocationInfo Info;
  AllocationTable *Table = DeviceInfo->AllocationTables[DeviceId].get();
  bool Found = Table->remove(TgtPtr, Info);
  if (!Found && DeviceInfo->singleContext()) {
    Table = DeviceInfo->AllocationTables[DeviceInfo->NumDevices].get();
    Found = Table->remove(TgtPtr, Info);
  }
  if (!Found) {
    DP("Error: Cannot find memory allocation information for " DPxMOD "\n", DPxPTR(TgtPtr));
    return -1;
  }
  // A kernel launch binds its arguments and enqueues under the same lock: the memory cannot go
  // away between the two.
  std::lock_guard<std::mutex> Guard(DeviceInfo->Mutexes[DeviceId]);
  if (CL_CALL_PTR_LOGGED(clMemBlockingFreeTARNO, Free, DeviceInfo->getContext(DeviceId),
                         Info.Base) != CL_SUCCESS) {
    // The memory is still there: keep its record, so that the delete can be tried again.
    Table->add(TgtPtr, Info.Base, Info.Size, Info.Kind, Info.ImplicitArg);
    return -1;
  }
  return 0;
}

void *__tgt_rtl_data_realloc(int32_t DeviceId, void *Ptr, int64_t Size, int32_t Kind) {
  if (!checkDeviceId(DeviceId))
    return nullptr;
  if (!Ptr)
    return dataAllocExplicit(DeviceId, Size, explicitKind(Kind), 0);
  std::optional<AllocationInfo> Info = findRecord(DeviceId, Ptr);
  if (!Info) {
    DP("Error: Cannot find allocation information for pointer " DPxMOD "\n", DPxPTR(Ptr));
    return nullptr;
  }
  if (Info->Size >= static_cast<uint64_t>(Size) && Info->Kind == Kind) {
    DP("Returning the same pointer " DPxMOD " as reallocation is unneeded\n", DPxPTR(Ptr));
    return Ptr;
  }
  int32_t NewKind = explicitKind(Kind);
  void *New = dataAllocExplicit(DeviceId, Size, NewKind, 0);
  if (!New)
    return nullptr;
  // The old contents, as far as they fit the new allocation.
  Info->Size = std::min(Info->Size, static_cast<uint64_t>(Size));
  if (NewKind != AllocKindDevice && Info->Kind != AllocKindDevice) {
    if (Info->Size)
      std::memcpy(New, Ptr, Info->Size);
  } else {
    auto Memcpy = reinterpret_cast<clEnqueueMemcpyTARNO_fn>(
        DeviceInfo->extensionFunction(DeviceId, ExtEnqueueMemcpy));
    if (!Memcpy ||
        CL_CALL_PTR("__tgt_rtl_data_realloc", clEnqueueMemcpyTARNO, Memcpy,
                    DeviceInfo->Queues[DeviceId], 1, New, Ptr, Info->Size, 0, nullptr,
                    nullptr) != CL_SUCCESS) {
      // The old allocation stays the caller's; the new one would be reachable by nobody.
      __tgt_rtl_data_delete(DeviceId, New);
      return nullptr;
    }
  }
  // An old allocation that cannot be freed stays the caller's, and the new one goes.
  if (__tgt_rtl_data_delete(DeviceId, Ptr) != 0) {
    __tgt_rtl_data_delete(DeviceId, New);
    return nullptr;
  }
  return New;
}

int32_t __tgt_rtl_requires_mapping(int32_t DeviceId, void *Ptr, int64_t Size) {
  if (!checkDeviceId(DeviceId))
    return 0;
  cl_uint MemType = 0;
  auto Query = reinterpret_cast<clGetMemAllocInfoTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtGetMemAllocInfo));
  if (!Query || CL_CALL_PTR("__tgt_rtl_requires_mapping", clGetMemAllocInfoTARNO, Query,
                            DeviceInfo->getContext(DeviceId), Ptr, 0x419A, sizeof(MemType),
                            &MemType, nullptr) != CL_SUCCESS)
    return 0;
  // Memory the driver does not know must be mapped; host memory only for a non-empty range.
  int32_t Requires = MemType == CL_MEM_TYPE_UNKNOWN_TARNO ||
                     (MemType == CL_MEM_TYPE_HOST_TARNO && Size > 0);
  DP("Ptr " DPxMOD " %s mapping.\n", DPxPTR(Ptr), Requires ? "requires" : "does not require");
  return Requires;
}

int32_t __tgt_rtl_get_data_alloc_info(int32_t DeviceId, int32_t NumPtrs, void **Ptrs,
                                      DataAllocInfo *Infos) {
  if (!checkDeviceId(DeviceId))
    return -1;
  AllocationTable &Table = *DeviceInfo->AllocationTables[DeviceId];
  for (int32_t I = 0; I < NumPtrs; ++I) {
    std::optional<AllocationInfo> Info = Table.find(Ptrs[I]);
    if (!Info) {
      DP("%s cannot find allocation information for " DPxMOD "\n",
         "__tgt_rtl_get_data_alloc_info", DPxPTR(Ptrs[I]));
      return -1;
    }
    uint64_t Offset = reinterpret_cast<uintptr_t>(Ptrs[I]) - reinterpret_cast<uintptr_t>(Info->Base);
    Infos[I].Base = reinterpret_cast<uintptr_t>(Info->Base);
    Infos[I].Offset = Offset;
    Infos[I].Extent = Offset + Info->Size;
  }
  return 0;
}

int32_t __tgt_rtl_is_accessible_addr_range(int32_t DeviceId, const void *Ptr, size_t Size) {
  if (!Ptr || Size == 0 || !checkDeviceId(DeviceId))
    return 0;
  AllocationTable *Table = nullptr;
  switch (getMemAllocType(DeviceId, Ptr)) {
  case CL_MEM_TYPE_DEVICE_TARNO:
  case CL_MEM_TYPE_SHARED_TARNO:
    Table = DeviceInfo->AllocationTables[DeviceId].get();
    break;
  case CL_MEM_TYPE_HOST_TARNO:
    Table = &hostAllocationTable(DeviceId);
    break;
  default:
    return 0;
  }
  return Table->reaches(const_cast<void *>(Ptr), Size) ? 1 : 0;
}

int32_t __tgt_rtl_get_device_from_ptr(const void *Ptr) {
  if (!DeviceInfo)
    return -1;
  for (uint32_t I = 0; I < DeviceInfo->NumDevices; ++I) {
    auto Info = DeviceInfo->AllocationTables[I]->findContaining(const_cast<void *>(Ptr));
    if (Info)
      return Info->Kind == AllocKindHost ? -1 : static_cast<int32_t>(I);
  }
  return -1;
}

int32_t __tgt_rtl_notify_indirect_access(int32_t DeviceId, const void *Ptr, uint64_t Offset) {
  if (!checkDeviceId(DeviceId))
    return -1;
  void *Base = const_cast<char *>(static_cast<const char *>(Ptr)) - Offset;
  DP("Notifying indirect access: " DPxMOD " + %zu\n", DPxPTR(Base), static_cast<size_t>(Offset));
  auto Notify = reinterpret_cast<clVelkIndirectAllocationOffsets_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtIndirectAllocationOffsets));
  // Its answer changes nothing: the access is only announced, directly rather than through the
  // checked-call convention, so the announcement leaves no trace lines.
  if (Notify)
    (void)Notify(Base, 1, &Offset);
  return 0;
}

} // extern "C"
