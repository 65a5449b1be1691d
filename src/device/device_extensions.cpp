#include "device/device_setup.h"
#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"

#include <cstring>
#include <memory>

namespace {

// Decides a status still unknown by a plain substring search (no word boundaries).
void decide(uint8_t &Status, const char *Extensions, const char *Name, const char *Label) {
  if (Status != ExtensionNotFound || !std::strstr(Extensions, Name))
    return;
  Status = ExtensionSupported;
  DP("Extension %s enabled.\n", Label);
}

} // namespace

int32_t getExtensionsInfoForDevice(int32_t DeviceNum) {
  DP("Getting extensions for device %d\n", DeviceNum);
  // Named as the logged argument text shows it.
  cl_device_id DeviceId = DeviceInfo->Devices[DeviceNum];
  size_t RetSize = 0;
  if (CL_CALL("getExtensionsInfoForDevice", clGetDeviceInfo, DeviceId, 0x1030, 0, nullptr,
              &RetSize) != CL_SUCCESS)
    return -1;
  // One byte more than asked, so the text is terminated whatever the driver wrote.
  std::unique_ptr<char[]> Data(new char[RetSize + 1]());
  if (CL_CALL("getExtensionsInfoForDevice", clGetDeviceInfo, DeviceId, 0x1030, RetSize, Data.get(),
              &RetSize) != CL_SUCCESS)
    return -1;
  const char *Text = Data.get();
  DP("Device extensions: %s\n", Text);

  DeviceExtensionsTy &Ext = DeviceInfo->Extensions[DeviceNum];
  decide(Ext.UnifiedSharedMemory, Text, UnifiedSharedMemoryExtensionName, "UnifiedSharedMemory");
  decide(Ext.DeviceAttributeQuery, Text, DeviceAttributeQueryExtensionName,
         "DeviceAttributeQuery");
  if (Ext.GetDeviceGlobalVariablePointer == ExtensionNotFound) {
    Ext.GetDeviceGlobalVariablePointer = ExtensionSupported;
    DP("Extension clGetDeviceGlobalVariablePointerTARNO enabled.\n");
  }
  if (Ext.GetKernelSuggestedLocalWorkSize == ExtensionNotFound) {
    Ext.GetKernelSuggestedLocalWorkSize = ExtensionSupported;
    DP("Extension clGetKernelSuggestedLocalWorkSizeTARNO enabled.\n");
  }
  for (LibdeviceExtensionTy &Lib : Ext.LibdeviceExtensions)
    decide(Lib.Status, Text, Lib.ExtensionName, Lib.ExtensionName);
  return 0;
}
