#include "memory/data_alloc.h"

#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "profile/profiling_timer.h"
#include "profile/trace_timeline.h"

#include <cstddef>

namespace {

template <typename Fn> Fn extension(int32_t DeviceId, ExtensionFunctionIndex Index) {
  return reinterpret_cast<Fn>(DeviceInfo->extensionFunction(DeviceId, Index));
}

void *reportMissing(const char *Op, const char *Function) {
  DP("Error: %s:%s is not available\n", Op, Function);
  return nullptr;
}

// A negative size would reach the driver as an enormous unsigned one.
void *reportNegativeSize(const char *Op, int64_t Size) {
  DP("Error: %s: invalid size %lld\n", Op, static_cast<long long>(Size));
  return nullptr;
}

} // namespace

std::unique_ptr<std::vector<cl_ulong>> makeAllocProperties(int32_t DeviceId, uint64_t Size) {
  auto Properties = std::make_unique<std::vector<cl_ulong>>();
  if (DeviceInfo->Option.DeviceType == DeviceTypeGPU &&
      DeviceInfo->DeviceProperties[DeviceId].MaxMemAllocSize < Size) {
    Properties->push_back(CL_MEM_ALLOC_FLAGS_TARNO);
    Properties->push_back(CL_MEM_ALLOW_UNRESTRICTED_SIZE_TARNO);
  }
  Properties->push_back(0);
  return Properties;
}

AllocationTable &hostAllocationTable(int32_t DeviceId) {
  size_t Index = DeviceInfo->singleContext() ? DeviceInfo->NumDevices : size_t(DeviceId);
  return *DeviceInfo->AllocationTables[Index];
}

void *dataAlloc(int32_t DeviceId, int64_t Size, void *HstPtr, void *HstBase, bool ImplicitArg,
                uint64_t Align) {
  if (Size < 0)
    return reportNegativeSize("dataAlloc", Size);
  int64_t Offset = reinterpret_cast<intptr_t>(HstPtr) - reinterpret_cast<intptr_t>(HstBase);
  // A host pointer below its base still needs the base itself to lie inside the allocation.
  int64_t AllocSize = Offset >= 0 ? Size + Offset : (-Offset < Size ? Size : 1 - Offset);

  ProfilingTimer Timer("DataAlloc", DeviceId);
  Timer.start();
  TimelineSpan Span;
  auto AllocProp = makeAllocProperties(DeviceId, AllocSize);
  auto Alloc = extension<clDeviceMemAllocTARNO_fn>(DeviceId, ExtDeviceMemAlloc);
  if (!Alloc)
    return reportMissing("dataAlloc", "clDeviceMemAllocTARNO");
  cl_int Rc = CL_SUCCESS;
  void *Base = CL_INVOKE_PTR_RC(clDeviceMemAllocTARNO, Alloc, Rc, DeviceInfo->getContext(DeviceId),
                                DeviceInfo->Devices[DeviceId], AllocProp->data(), AllocSize, Align);
  if (CL_CHECK_RC("dataAlloc", clDeviceMemAllocTARNO, Rc) != CL_SUCCESS)
    return nullptr;
  if (!Base) {
    DP("Error: Failed to allocate base buffer\n");
    return nullptr;
  }
  DP("Created base buffer " DPxMOD " during data alloc\n", DPxPTR(Base));

  void *TgtPtr = static_cast<char *>(Base) + (Offset > 0 ? Offset : 0);
  if (ImplicitArg)
    DP("Stashing an implicit argument " DPxMOD " for next kernel\n", DPxPTR(TgtPtr));
  DeviceInfo->AllocationTables[DeviceId]->add(TgtPtr, Base, Size, AllocKindDevice, ImplicitArg);
  Timer.stop();
  if (Span.On)
    recordHostWork(Span, TimelineKind::Alloc, DeviceId, AllocSize, AllocKindDevice);
  return TgtPtr;
}

void *dataAllocExplicit(int32_t DeviceId, int64_t Size, int32_t Kind, uint64_t Align) {
  if (Size < 0)
    return reportNegativeSize("dataAllocExplicit", Size);
  ProfilingTimer Timer("DataAlloc", DeviceId);
  Timer.start();
  // Device memory is recorded by dataAlloc; host and shared memory here.
  TimelineSpan Span;
  void *Ptr = nullptr;
  cl_int Rc = CL_SUCCESS;
  switch (Kind) {
  case AllocKindDevice:
    Ptr = dataAlloc(DeviceId, Size, nullptr, nullptr, true, Align);
    Timer.stop();
    return Ptr;
  case AllocKindHost: {
    auto AllocProp = makeAllocProperties(DeviceId, Size);
    auto Alloc = extension<clHostMemAllocTARNO_fn>(DeviceId, ExtHostMemAlloc);
    if (!Alloc) {
      reportMissing("dataAllocExplicit", "clHostMemAllocTARNO");
      break;
    }
    Ptr = CL_INVOKE_PTR_RC(clHostMemAllocTARNO, Alloc, Rc, DeviceInfo->getContext(DeviceId),
                           AllocProp->data(), Size, Align);
    if (CL_CHECK_RC("dataAllocExplicit", clHostMemAllocTARNO, Rc) != CL_SUCCESS || !Ptr)
      break;
    hostAllocationTable(DeviceId).add(Ptr, Ptr, Size, Kind, true);
    DP("Allocated a host memory object " DPxMOD "\n", DPxPTR(Ptr));
    Timer.stop();
    if (Span.On)
      recordHostWork(Span, TimelineKind::Alloc, DeviceId, Size, Kind);
    return Ptr;
  }
  case AllocKindShared: {
    auto AllocProp = makeAllocProperties(DeviceId, Size);
    auto Alloc = extension<clSharedMemAllocTARNO_fn>(DeviceId, ExtSharedMemAlloc);
    if (!Alloc) {
      reportMissing("dataAllocExplicit", "clSharedMemAllocTARNO");
      break;
    }
    Ptr = CL_INVOKE_PTR_RC(clSharedMemAllocTARNO, Alloc, Rc, DeviceInfo->getContext(DeviceId),
                           DeviceInfo->Devices[DeviceId], AllocProp->data(), Size, Align);
    if (CL_CHECK_RC("dataAllocExplicit", clSharedMemAllocTARNO, Rc) != CL_SUCCESS || !Ptr)
      break;
    DeviceInfo->AllocationTables[DeviceId]->add(Ptr, Ptr, Size, Kind, true);
    DP("Allocated a shared memory object " DPxMOD "\n", DPxPTR(Ptr));
    Timer.stop();
    if (Span.On)
      recordHostWork(Span, TimelineKind::Alloc, DeviceId, Size, Kind);
    return Ptr;
  }
  default:
    fatalError("dataAllocExplicit", "Invalid target data allocation kind");
  }
  Timer.stop();
  return nullptr;
}

cl_uint getMemAllocType(int32_t DeviceId, const void *Ptr) {
  cl_uint MemType = CL_MEM_TYPE_UNKNOWN_TARNO;
  auto Query = extension<clGetMemAllocInfoTARNO_fn>(DeviceId, ExtGetMemAllocInfo);
  if (!Query) {
    reportMissing("getMemAllocType", "clGetMemAllocInfoTARNO");
    return MemType;
  }
  if (CL_CALL_PTR("getMemAllocType", clGetMemAllocInfoTARNO, Query,
                  DeviceInfo->getContext(DeviceId), Ptr, 0x419A, sizeof(MemType), &MemType,
                  nullptr) != CL_SUCCESS)
    return CL_MEM_TYPE_UNKNOWN_TARNO;
  return MemType;
}
