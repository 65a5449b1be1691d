// The host runtime's questions about an initialised device, answered from the plugin's state.
#include "frame/cl_call.h"
#include "frame/device_check.h"
#include "frame/plugin_state.h"
#include "omptargetplugin.h"

#include <cstring>

namespace {

// The bytes of one device-info kind; Size 0 for an unsupported kind.
struct DeviceInfoValue {
  const void *Data = nullptr;
  size_t Size = 0;
};

DeviceInfoValue deviceInfoValue(const DevicePropertiesTy &P, uint32_t Kind) {
  static const int32_t MinusOne = -1;
  static const char Platform[] = "opencl";
  switch (Kind) {
  case 0: return {P.Name.c_str(), P.Name.size() + 1};
  case 1: return {&P.DeviceId, 4};
  case 2:
  case 3: return {&MinusOne, 4};
  case 4: return {&P.NumEUs, 4};
  case 5: return {&P.NumThreadsPerEU, 4};
  case 7: return {&P.NumEUsPerSubslice, 4};
  case 8: return {&P.NumSubslicesPerSlice, 4};
  case 9: return {&P.NumSlices, 4};
  case 10: return {&P.LocalMemSize, 8};
  case 11: return {&P.GlobalMemSize, 8};
  case 12: return {&P.GlobalMemCacheSize, 8};
  case 13: return {&P.MaxClockFrequency, 4};
  case 14: return {Platform, sizeof(Platform)};
  default: return {};
  }
}

} // namespace

extern "C" {

// The queries answer from discovery and initialisation; a device number beyond the count gets
// the failure answer.
void *__tgt_rtl_get_context_handle(int32_t DeviceId) {
  if (!checkDeviceId(DeviceId, false))
    return nullptr;
  return DeviceInfo->getContext(DeviceId);
}

char *__tgt_rtl_get_device_name(int32_t DeviceId, char *Buf, size_t BufMax) {
  if (!checkDeviceId(DeviceId, false))
    return nullptr;
  if (CL_CALL("__tgt_rtl_get_device_name", clGetDeviceInfo, DeviceInfo->Devices[DeviceId], 0x102B,
              BufMax, Buf, nullptr) != CL_SUCCESS)
    return nullptr;
  return Buf;
}

int32_t __tgt_rtl_is_supported_device(int32_t DeviceId, uint64_t DeviceTypes) {
  if (!checkDeviceId(DeviceId, false))
    return 0;
  if (DeviceTypes == 0)
    return 1;
  uint64_t Arch = DeviceInfo->DeviceArchs[DeviceId];
  int32_t Supported = (Arch & DeviceTypes) == Arch ? 1 : 0;
  DP("Device %u does%s match the requested device types 0x%0*llx\n",
     static_cast<uint32_t>(DeviceId), Supported ? "" : " not", 16,
     static_cast<unsigned long long>(DeviceTypes));
  return Supported;
}

int32_t __tgt_rtl_get_device_info(int32_t DeviceId, uint32_t Kind, size_t Size, void *Value,
                                  size_t *SizeRet) {
  if (!checkDeviceId(DeviceId, false))
    return -1;
  DeviceInfoValue V = deviceInfoValue(DeviceInfo->DeviceProperties[DeviceId], Kind);
  if (V.Size == 0) {
    DP("Unknown device info requested\n");
    return -1;
  }
  if (Size == 0 && !Value && SizeRet) {
    *SizeRet = V.Size;
    return 0;
  }
  if (Size == 0 || !Value)
    return -1;
  if (Size < V.Size) {
    DP("Cannot copy device info due to insufficient output buffer\n");
    return -1;
  }
  std::memcpy(Value, V.Data, V.Size);
  return 0;
}

} // extern "C"
