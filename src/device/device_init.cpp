// Requirement flags and device initialisation.
#include "device/device_setup.h"
#include "frame/cl_call.h"
#include "frame/device_check.h"
#include "frame/plugin_state.h"
#include "omptargetplugin.h"
#include "ompt/ompt_state.h"
#include "profile/trace_timeline.h"

#include <array>

namespace {

constexpr const char *Op = "__tgt_rtl_init_device";
constexpr int64_t RequiresUnifiedSharedMemory = 0x8;

// Creates the device's context (unless the platform's is shared) and its main queue. On failure
// the handles made so far are released again: the device stays uninitialised and shutdown would
// never release them.
bool createContextAndQueue(int32_t DeviceNum) {
  PluginDeviceInfo &DI = *DeviceInfo;
  cl_device_id Device = DI.Devices[DeviceNum];
  if (!DI.singleContext()) {
    cl_context_properties ContextProperties[] = {
        0x1084, reinterpret_cast<cl_context_properties>(DI.Platforms[DeviceNum]), 0};
    cl_int Rc = CL_SUCCESS;
    cl_context Context =
        CL_INVOKE_RC(clCreateContext, Rc, ContextProperties, 1, &Device, nullptr, nullptr);
    if (CL_CHECK_RC(Op, clCreateContext, Rc) != CL_SUCCESS)
      return false;
    DI.Contexts[DeviceNum] = Context;
  }
  std::array<cl_queue_properties, 3> QProperties = {
      0x1093,
      (DI.Option.Flags & (OptionFlagProfile | OptionFlagTimeline)) ? cl_queue_properties(2) : 0,
      0};
  cl_context Context = DI.getContext(DeviceNum);
  cl_device_id CLDeviceId = Device;
  cl_int Rc = CL_SUCCESS;
  cl_command_queue Queue = CL_INVOKE_RC(clCreateCommandQueueWithProperties, Rc, Context,
                                        CLDeviceId, QProperties.data());
  if (CL_CHECK_RC(Op, clCreateCommandQueueWithProperties, Rc) != CL_SUCCESS) {
    DP("Error: Failed to create CommandQueue: %d\n", Rc);
    if (!DI.singleContext()) {
      CL_CALL_LOGGED(clReleaseContext, DI.Contexts[DeviceNum]);
      DI.Contexts[DeviceNum] = nullptr;
    }
    return false;
  }
  DI.Queues[DeviceNum] = Queue;
  return true;
}

void releaseContextAndQueue(int32_t DeviceNum) {
  PluginDeviceInfo &DI = *DeviceInfo;
  CL_CALL_LOGGED(clReleaseCommandQueue, DI.Queues[DeviceNum]);
  DI.Queues[DeviceNum] = nullptr;
  if (!DI.singleContext()) {
    CL_CALL_LOGGED(clReleaseContext, DI.Contexts[DeviceNum]);
    DI.Contexts[DeviceNum] = nullptr;
  }
}

} // namespace

extern "C" {

int64_t __tgt_rtl_init_requires(int64_t Flags) {
  DP("Initialize requires flags to %lld\n", static_cast<long long>(Flags));
  if (DeviceInfo)
    DeviceInfo->RequiresFlags = static_cast<uint64_t>(Flags);
  return Flags;
}

int32_t __tgt_rtl_init_device(int32_t DeviceId) {
  if (!checkDeviceId(DeviceId, false))
    return -1;
  PluginDeviceInfo &DI = *DeviceInfo;
  // A second initialisation would replace the live context and queue: the first one stands.
  if (DI.Initialized[DeviceId]) {
    DP("Device %d is already initialized\n", DeviceId);
    return 0;
  }
  if ((DI.RequiresFlags & RequiresUnifiedSharedMemory) && DI.Option.DeviceType == DeviceTypeGPU) {
    warningMessage("Warning: Required \"unified_shared_memory\" is not supported.\n");
    return -1;
  }
  DP("Initialize OpenCL device\n");
  if (!createContextAndQueue(DeviceId))
    return -1;
  getExtensionsInfoForDevice(DeviceId);
  const DeviceExtensionsTy &Ext = DI.Extensions[DeviceId];
  if (Ext.UnifiedSharedMemory != ExtensionSupported) {
    DP("Error: Required USM extension is not found\n");
    releaseContextAndQueue(DeviceId);
    return -1;
  }
  if (getDeviceProperties(DeviceId, Ext.DeviceAttributeQuery == ExtensionSupported) != 0) {
    releaseContextAndQueue(DeviceId);
    return -1;
  }
  DI.DeviceArchs[DeviceId] = decideDeviceArch(DeviceId);
  omptNotifyDeviceInitialize(DeviceId);
  DI.Initialized[DeviceId] = true;
  if (DI.Option.Flags & OptionFlagTimeline)
    takeTimelineClockPair(DeviceId);
  return 0;
}

} // extern "C"
