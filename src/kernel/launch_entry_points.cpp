// The launch entry points. The host runtime passes the address of a region's device entry, which
// holds the kernel handle the load created.
#include "frame/debug.h"
#include "frame/device_check.h"
#include "frame/plugin_state.h"
#include "kernel/launch.h"
#include "memory/data_alloc.h"
#include "omptargetplugin.h"
#include "program/kernel_info.h"

namespace {

cl_kernel kernelOfEntry(const void *TgtEntryPtr) {
  return TgtEntryPtr ? *static_cast<const cl_kernel *>(TgtEntryPtr) : nullptr;
}

} // namespace

extern "C" {

int32_t __tgt_rtl_run_target_team_nd_region(int32_t DeviceId, void *TgtEntryPtr, void **TgtArgs,
                                            ptrdiff_t *TgtOffsets, int32_t NumArgs,
                                            int32_t NumTeams, int32_t ThreadLimit,
                                            void *LoopDesc) {
  if (!checkDeviceId(DeviceId))
    return -1;
  return runTargetTeamNDRegion(DeviceId, kernelOfEntry(TgtEntryPtr), TgtArgs, TgtOffsets, NumArgs,
                               NumTeams, ThreadLimit, static_cast<LoopDescriptor *>(LoopDesc));
}

int32_t __tgt_rtl_launch_kernel(int32_t DeviceId, void *TgtEntryPtr, void **TgtArgs,
                                ptrdiff_t *TgtOffsets, KernelArgs *Args) {
  if (!checkDeviceId(DeviceId))
    return -1;
  if (!Args) {
    DP("Error: __tgt_rtl_launch_kernel: no kernel-arguments record\n");
    return -1;
  }
  return runTargetTeamNDRegion(DeviceId, kernelOfEntry(TgtEntryPtr), TgtArgs, TgtOffsets,
                               static_cast<int32_t>(Args->NumArgs),
                               static_cast<int32_t>(Args->NumTeams[0]),
                               static_cast<int32_t>(Args->ThreadLimit[0]), nullptr);
}

int32_t __tgt_rtl_manifest_data_for_region(int32_t DeviceId, void *TgtEntryPtr, void **TgtPtrs,
                                           size_t NumPtrs) {
  if (!checkDeviceId(DeviceId))
    return -1;
  if (NumPtrs != 0 && !TgtPtrs) {
    DP("Error: __tgt_rtl_manifest_data_for_region: %zu pointers without an array\n", NumPtrs);
    return -1;
  }
  cl_kernel Kernel = kernelOfEntry(TgtEntryPtr);
  DP("Stashing %zu implicit arguments for kernel " DPxMOD "\n", NumPtrs, DPxPTR(Kernel));
  std::lock_guard<std::mutex> Guard(DeviceInfo->Mutexes[DeviceId]);
  KernelProperty &KP = DeviceInfo->KernelProperties[DeviceId][Kernel];
  KP.ImplicitArgs.clear();
  KP.ImplicitArgs.insert(TgtPtrs, TgtPtrs + NumPtrs);
  KP.Implicit.Valid = false;
  return 0;
}

int32_t __tgt_rtl_is_private_arg_on_host(int32_t DeviceId, const void *TgtEntryPtr,
                                         uint32_t ArgIdx) {
  if (!checkDeviceId(DeviceId))
    return 0;
  cl_kernel Kernel = kernelOfEntry(TgtEntryPtr);
  if (!Kernel) {
    reportLaunchError("Querying information about a deleted kernel.\n");
    return 0;
  }
  const KernelInfoTy *Info = findKernelInfo(DeviceId, Kernel);
  return Info && Info->isArgByValue(ArgIdx) ? 1 : 0;
}

} // extern "C"
