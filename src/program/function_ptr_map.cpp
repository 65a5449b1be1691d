// The function pointer map: host function addresses paired with their device versions, copied to
// the device and published through two globals of the device's newest program, so that device
// code can translate a host function pointer it was handed.
#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/device_check.h"
#include "frame/plugin_state.h"
#include "memory/data_alloc.h"
#include "omptargetplugin.h"
#include "profile/profiling_timer.h"

#include <algorithm>

namespace {

constexpr const char *MapOp = "__tgt_rtl_set_function_ptr_map";
constexpr uint64_t MapEntryBytes = 16; // host address, device address

void listEntries(uint64_t NumEntries, const uint64_t *Pairs) {
  DP("Transferring function pointers table (%llu entries) to the device: {\n",
     static_cast<unsigned long long>(NumEntries));
  uint64_t Shown = std::min<uint64_t>(5 * uint64_t(StartupDebugLevel), NumEntries);
  for (uint64_t I = 0; I < Shown; ++I)
    DP("\t{ 0x%0*llx, 0x%0*llx }\n", 16, static_cast<unsigned long long>(Pairs[2 * I]), 16,
       static_cast<unsigned long long>(Pairs[2 * I + 1]));
  if (Shown < NumEntries)
    DP("\t... increase LIBOMPTARGET_DEBUG to see more entries ...\n");
  DP("}\n");
}

} // namespace

extern "C" int32_t __tgt_rtl_set_function_ptr_map(int32_t DeviceId, uint64_t NumEntries,
                                                  const void *FnPtrs) {
  if (NumEntries == 0)
    return 0;
  if (!checkDeviceId(DeviceId))
    return -1;
  if (!FnPtrs || NumEntries > UINT64_MAX / MapEntryBytes) {
    DP("Error: %s: no table of %llu entries\n", MapOp, static_cast<unsigned long long>(NumEntries));
    return -1;
  }
  ProfilingTimer Timer("Function pointers init", DeviceId);
  Timer.start();
  uint64_t MapBytes = NumEntries * MapEntryBytes;
  auto Alloc = reinterpret_cast<clDeviceMemAllocTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtDeviceMemAlloc));
  auto Memcpy = reinterpret_cast<clEnqueueMemcpyTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtEnqueueMemcpy));
  if (!Alloc || !Memcpy) {
    DP("Error: %s: the device has no unified shared memory functions\n", MapOp);
    Timer.stop();
    return -1;
  }
  auto AllocProp = makeAllocProperties(DeviceId, MapBytes);
  cl_int Rc = CL_SUCCESS;
  void *FnPtrMapMem =
      CL_INVOKE_PTR_RC(clDeviceMemAllocTARNO, Alloc, Rc, DeviceInfo->getContext(DeviceId),
                       DeviceInfo->Devices[DeviceId], AllocProp->data(), MapBytes, 0);
  if (CL_CHECK_RC(MapOp, clDeviceMemAllocTARNO, Rc) != CL_SUCCESS || !FnPtrMapMem) {
    Timer.stop();
    return -1;
  }
  {
    std::lock_guard<std::mutex> Guard(DeviceInfo->Mutexes[DeviceId]);
    DeviceInfo->OwnedMemory[DeviceId].push_back(FnPtrMapMem);
  }
  // Device code may read the table from any kernel without being passed it.
  DeviceInfo->AllocationTables[DeviceId]->add(FnPtrMapMem, FnPtrMapMem, MapBytes, AllocKindDevice,
                                              true);
  if (StartupDebugLevel >= 2)
    listEntries(NumEntries, static_cast<const uint64_t *>(FnPtrs));
  if (CL_CALL_PTR(MapOp, clEnqueueMemcpyTARNO, Memcpy, DeviceInfo->Queues[DeviceId], 1, FnPtrMapMem,
                  FnPtrs, MapBytes, 0, nullptr, nullptr) != CL_SUCCESS) {
    Timer.stop();
    return -1;
  }
  auto &Programs = DeviceInfo->Programs[DeviceId];
  int32_t Written = GlobalMissing;
  if (!Programs.empty()) {
    Written = Programs.back().writeGlobalVariable("__omp_offloading_fptr_map_p", 8, &FnPtrMapMem);
    if (Written == 0)
      Written =
          Programs.back().writeGlobalVariable("__omp_offloading_fptr_map_size", 8, &NumEntries);
  }
  // The table is on the device either way; a program whose globals cannot take its address only
  // does without the map, which the warning says.
  if (Written != 0)
    DP("Warning: cannot construct function pointer map on device\n");
  Timer.stop();
  return 0;
}
