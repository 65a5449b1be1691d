#include "frame/plugin_state.h"

#include "frame/cl_call.h"
#include "ompt/ompt_state.h"
#include "profile/trace_timeline.h"

#include <cstdlib>

PluginDeviceInfo *DeviceInfo = nullptr;

cl_context PluginDeviceInfo::getContext(int32_t DeviceId) const {
  if (singleContext())
    return PlatformInfos.at(Platforms[DeviceId]).Context;
  return Contexts[DeviceId];
}

void *PluginDeviceInfo::extensionFunction(int32_t DeviceId, ExtensionFunctionIndex Index) const {
  return PlatformInfos.at(Platforms[DeviceId]).ExtensionFunctionPointers[Index];
}

void createPluginState() {
  DP("Init OpenCL plugin!\n");
  DeviceInfo = new PluginDeviceInfo();
  DeviceInfo->Option.readFromEnvironment();
}

// The operating system's attach notification; runs after the start-up debug level is taken.
__attribute__((constructor(102))) static void onLibraryLoad() { createPluginState(); }

namespace {

using MemFreeFn = cl_int(CL_API_CALL *)(cl_context, void *);

// A failed release at shutdown leaves the driver in an unknown state: it is fatal.
void exitOnFailure(cl_int Rc) {
  if (Rc != CL_SUCCESS)
    exitProcess(1);
}

void shutDownDevice(uint32_t I) {
  if (DeviceInfo->Option.Flags & OptionFlagProfile)
    for (const auto &[ThreadId, Profile] : DeviceInfo->Profiles[I])
      printProfile(Profile, static_cast<int32_t>(I), ThreadId,
                   DeviceInfo->DeviceProperties[I].Name, DeviceInfo->Option.ProfileResolution);
  omptNotifyDeviceShutdown(static_cast<int32_t>(I));
  exitOnFailure(CL_CALL("closeRTL", clReleaseCommandQueue, DeviceInfo->Queues[I]));
  DeviceInfo->Queues[I] = nullptr;
  // The plugin's own device memory; a failed free is reported but changes nothing at this point.
  if (auto MemFree =
          reinterpret_cast<MemFreeFn>(DeviceInfo->extensionFunction(I, ExtMemFree)))
    for (void *Mem : DeviceInfo->OwnedMemory[I])
      CL_CALL_PTR("closeRTL", clMemFreeTARNO, MemFree, DeviceInfo->getContext(I), Mem);
  DeviceInfo->OwnedMemory[I].clear();
  if (!DeviceInfo->singleContext()) {
    exitOnFailure(CL_CALL("closeRTL", clReleaseContext, DeviceInfo->Contexts[I]));
    DeviceInfo->Contexts[I] = nullptr;
  }
  // Each program releases its kernels and programs, in load order.
  while (!DeviceInfo->Programs[I].empty())
    DeviceInfo->Programs[I].pop_front();
}

} // namespace

void closeRTL() {
  if (!DeviceInfo)
    return;
  DP("Deinit OpenCL plugin!\n");
  writeTimeline(); // before the device records it names are released
  for (uint32_t I = 0; I < DeviceInfo->NumDevices; ++I)
    if (DeviceInfo->Initialized[I])
      shutDownDevice(I);
  if (DeviceInfo->singleContext())
    for (auto &PLFI : DeviceInfo->PlatformInfos)
      exitOnFailure(CL_CALL("closeRTL", clReleaseContext, PLFI.second.Context));
  DeviceInfo->Mutexes.reset();
  DeviceInfo->ProfileMutexes.reset();
  DP("Closed RTL successfully\n");
  delete DeviceInfo;
  DeviceInfo = nullptr;
}
