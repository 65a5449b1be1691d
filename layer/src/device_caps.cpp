#include "device_caps.h"

#include "vendor_usm.h"

#include <cstring>

std::string deviceInfoText(cl_device_id Device, cl_device_info Param, cl_int *Error) {
  cl_int Ignored = CL_SUCCESS;
  cl_int &Result = Error ? *Error : Ignored;
  size_t Size = 0;
  if ((Result = gNext.clGetDeviceInfo(Device, Param, 0, nullptr, &Size)) != CL_SUCCESS ||
      Size == 0)
    return std::string();
  std::string Text(Size, '\0');
  if ((Result = gNext.clGetDeviceInfo(Device, Param, Size, Text.data(), nullptr)) != CL_SUCCESS)
    return std::string();
  Text.resize(std::strlen(Text.c_str()));
  return Text;
}

template <typename T> static T deviceValue(cl_device_id Device, cl_device_info Param) {
  T Value{};
  if (gNext.clGetDeviceInfo(Device, Param, sizeof(T), &Value, nullptr) != CL_SUCCESS)
    return T{};
  return Value;
}

cl_device_svm_capabilities deviceSvmCapabilities(cl_device_id Device) {
  return deviceValue<cl_device_svm_capabilities>(Device, CL_DEVICE_SVM_CAPABILITIES);
}

cl_device_type deviceType(cl_device_id Device) {
  return deviceValue<cl_device_type>(Device, CL_DEVICE_TYPE);
}

cl_ulong deviceMaxAllocSize(cl_device_id Device) {
  return deviceValue<cl_ulong>(Device, CL_DEVICE_MAX_MEM_ALLOC_SIZE);
}

cl_platform_id devicePlatform(cl_device_id Device) {
  return deviceValue<cl_platform_id>(Device, CL_DEVICE_PLATFORM);
}

bool extensionListHas(const std::string &List, const char *Name) {
  size_t Length = std::strlen(Name);
  for (size_t Pos = List.find(Name); Pos != std::string::npos; Pos = List.find(Name, Pos + 1)) {
    bool StartsWord = Pos == 0 || List[Pos - 1] == ' ';
    bool EndsWord = Pos + Length == List.size() || List[Pos + Length] == ' ';
    if (StartsWord && EndsWord)
      return true;
  }
  return false;
}

bool deviceHasNativeUsm(cl_device_id Device) {
  return extensionListHas(deviceInfoText(Device, CL_DEVICE_EXTENSIONS), LAYER_USM_EXTENSION_NAME);
}

bool layerServesUsm(cl_device_id Device, const std::string &Extensions) {
  return (deviceSvmCapabilities(Device) & CL_DEVICE_SVM_COARSE_GRAIN_BUFFER) != 0 &&
         !extensionListHas(Extensions, LAYER_USM_EXTENSION_NAME);
}

bool layerServesUsm(cl_device_id Device) {
  cl_int Error = CL_SUCCESS;
  std::string Extensions = deviceInfoText(Device, CL_DEVICE_EXTENSIONS, &Error);
  return Error == CL_SUCCESS && layerServesUsm(Device, Extensions);
}

bool deviceAcceptsSpirv(cl_device_id Device) {
  return deviceInfoText(Device, CL_DEVICE_IL_VERSION).find("SPIR-V") != std::string::npos;
}

std::vector<cl_device_id> contextDevices(cl_context Context) {
  size_t Size = 0;
  if (gNext.clGetContextInfo(Context, CL_CONTEXT_DEVICES, 0, nullptr, &Size) != CL_SUCCESS)
    return {};
  std::vector<cl_device_id> Devices(Size / sizeof(cl_device_id));
  if (gNext.clGetContextInfo(Context, CL_CONTEXT_DEVICES, Size, Devices.data(), nullptr) !=
      CL_SUCCESS)
    return {};
  return Devices;
}

std::vector<cl_device_id> platformDevices(cl_platform_id Platform) {
  cl_uint Count = 0;
  if (gNext.clGetDeviceIDs(Platform, CL_DEVICE_TYPE_ALL, 0, nullptr, &Count) != CL_SUCCESS ||
      Count == 0)
    return {};
  std::vector<cl_device_id> Devices(Count);
  if (gNext.clGetDeviceIDs(Platform, CL_DEVICE_TYPE_ALL, Count, Devices.data(), nullptr) !=
      CL_SUCCESS)
    return {};
  return Devices;
}
