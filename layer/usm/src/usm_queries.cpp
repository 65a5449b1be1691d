// Device and platform queries the shared-memory layer adds to or answers where the driver
// cannot: the extension's name and functions, timers and sub-groups.
#include "device_caps.h"
#include "driver_quirks.h"
#include "exception_barrier.h"
#include "info_answer.h"
#include "usm_state.h"
#include "vendor_usm.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

cl_int versionList(cl_device_id Device, cl_device_info Param,
                   std::vector<cl_name_version> &List) {
  size_t Size = 0;
  List.clear();
  if (cl_int Error = gNext.clGetDeviceInfo(Device, Param, 0, nullptr, &Size))
    return Error;
  List.resize(Size / sizeof(cl_name_version));
  return Size ? gNext.clGetDeviceInfo(Device, Param, Size, List.data(), nullptr) : CL_SUCCESS;
}

cl_name_version nameVersion(const char *Name, cl_uint Major, cl_uint Minor) {
  cl_name_version Entry{};
  Entry.version = CL_MAKE_VERSION(Major, Minor, 0);
  std::strncpy(Entry.name, Name, CL_NAME_VERSION_MAX_NAME_SIZE - 1);
  return Entry;
}

cl_int answerList(size_t Size, void *Value, size_t *SizeRet,
                  const std::vector<cl_name_version> &List) {
  return answerBytes(Size, Value, SizeRet, List.data(), List.size() * sizeof(cl_name_version));
}

// Whether the layer serves the device; false also when the device cannot be asked.
bool servedDevice(cl_device_id Device) {
  DeviceCaps Caps;
  return deviceCaps(Device, Caps) == CL_SUCCESS && layerServesUsm(Caps);
}

// The sub-group count a device without sub-groups gets from the layer: every work-item is a
// sub-group of one, so a work-group holds as many sub-groups as work-items.
cl_int subGroupCount(cl_device_id Device, size_t Size, void *Value, size_t *SizeRet) {
  cl_uint Count = 0;
  cl_int Error = gNext.clGetDeviceInfo(Device, CL_DEVICE_MAX_NUM_SUB_GROUPS, sizeof(Count),
                                       &Count, nullptr);
  if (Error != CL_SUCCESS && Error != CL_INVALID_VALUE)
    return Error;
  if (Count == 0 && servedDevice(Device)) {
    size_t GroupSize = 0;
    if ((Error = gNext.clGetDeviceInfo(Device, CL_DEVICE_MAX_WORK_GROUP_SIZE, sizeof(GroupSize),
                                       &GroupSize, nullptr)) != CL_SUCCESS)
      return Error;
    cl_uint Count = GroupSize > CL_UINT_MAX ? CL_UINT_MAX : static_cast<cl_uint>(GroupSize);
    return answerValue(Size, Value, SizeRet, Count);
  }
  return gNext.clGetDeviceInfo(Device, CL_DEVICE_MAX_NUM_SUB_GROUPS, Size, Value, SizeRet);
}

cl_int hookGetDeviceInfo(cl_device_id Device, cl_device_info Param, size_t Size, void *Value,
                         size_t *SizeRet) {
  if (Param == CL_DEVICE_MAX_NUM_SUB_GROUPS)
    return subGroupCount(Device, Size, Value, SizeRet);
  bool Added = Param == CL_DEVICE_EXTENSIONS || Param == CL_DEVICE_EXTENSIONS_WITH_VERSION;
  if (!Added)
    return gNext.clGetDeviceInfo(Device, Param, Size, Value, SizeRet);
  // Whether the layer adds to the answer must not depend on a query that happened to fail.
  DeviceCaps Caps;
  if (cl_int Error = deviceCaps(Device, Caps))
    return Error;
  switch (Param) {
  case CL_DEVICE_EXTENSIONS:
    if (layerServesUsm(Caps)) {
      std::string Text = Caps.Extensions;
      if (!Text.empty() && Text.back() != ' ')
        Text += ' ';
      return answerText(Size, Value, SizeRet, Text + LAYER_USM_EXTENSION_NAME);
    }
    break;
  case CL_DEVICE_EXTENSIONS_WITH_VERSION:
    if (layerServesUsm(Caps)) {
      // A driver that predates the query has no list of its own; other failures are errors.
      std::vector<cl_name_version> List;
      cl_int Error = versionList(Device, Param, List);
      if (Error == CL_INVALID_VALUE)
        List.clear();
      else if (Error != CL_SUCCESS)
        return Error;
      List.push_back(nameVersion(LAYER_USM_EXTENSION_NAME, 1, 0));
      return answerList(Size, Value, SizeRet, List);
    }
    break;
  default:
    break;
  }
  return gNext.clGetDeviceInfo(Device, Param, Size, Value, SizeRet);
}

struct NamedFunction {
  const char *Name;
  void *Function;
};

const NamedFunction kExtensionFunctions[] = {
    {"clGetMemAllocInfoTARNO", reinterpret_cast<void *>(guarded<layerGetMemAllocInfo>)},
    {"clHostMemAllocTARNO", reinterpret_cast<void *>(guarded<layerHostMemAlloc>)},
    {"clDeviceMemAllocTARNO", reinterpret_cast<void *>(guarded<layerDeviceMemAlloc>)},
    {"clSharedMemAllocTARNO", reinterpret_cast<void *>(guarded<layerSharedMemAlloc>)},
    {"clMemFreeTARNO", reinterpret_cast<void *>(guarded<layerMemFree>)},
    {"clMemBlockingFreeTARNO", reinterpret_cast<void *>(guarded<layerMemBlockingFree>)},
    {"clSetKernelArgMemPointerTARNO",
     reinterpret_cast<void *>(guarded<layerSetKernelArgMemPointer>)},
    {"clEnqueueMemcpyTARNO", reinterpret_cast<void *>(guarded<layerEnqueueMemcpy>)},
    {"clGetKernelSuggestedLocalWorkSizeTARNO",
     reinterpret_cast<void *>(guarded<layerGetKernelSuggestedLocalWorkSize>)},
};

void *layerFunction(const char *Name) {
  if (!Name)
    return nullptr;
  for (const NamedFunction &Entry : kExtensionFunctions)
    if (std::strcmp(Entry.Name, Name) == 0)
      return Entry.Function;
  return nullptr;
}

void *hookGetExtensionFunctionAddressForPlatform(cl_platform_id Platform,
                                                             const char *Name) {
  void *Own = layerFunction(Name);
  if (Own) {
    cl_int Served = platformServed(Platform, layerServesUsm);
    if (Served == CL_SUCCESS)
      return Own;
    // Without an answer about the platform, no function: not the driver's, which would not work
    // with the layer's allocations.
    if (Served != CL_INVALID_PLATFORM)
      return nullptr;
  }
  return gNext.clGetExtensionFunctionAddressForPlatform(Platform, Name);
}

void *hookGetExtensionFunctionAddress(const char *Name) {
  if (void *Own = layerFunction(Name))
    return Own;
  return gNext.clGetExtensionFunctionAddress(Name);
}

// Timers where the driver has none, only for the devices the layer serves; the platform's host
// timer resolution then says there is one.
cl_int hookGetDeviceAndHostTimer(cl_device_id Device, cl_ulong *DeviceTimestamp,
                                 cl_ulong *HostTimestamp) {
  cl_int Error = gNext.clGetDeviceAndHostTimer(Device, DeviceTimestamp, HostTimestamp);
  if (Error != CL_INVALID_OPERATION || !servedDevice(Device))
    return Error;
  if (!DeviceTimestamp || !HostTimestamp)
    return CL_INVALID_VALUE;
  *DeviceTimestamp = *HostTimestamp = hostNanoseconds();
  return CL_SUCCESS;
}

cl_int hookGetHostTimer(cl_device_id Device, cl_ulong *HostTimestamp) {
  cl_int Error = gNext.clGetHostTimer(Device, HostTimestamp);
  if (Error != CL_INVALID_OPERATION || !servedDevice(Device))
    return Error;
  if (!HostTimestamp)
    return CL_INVALID_VALUE;
  *HostTimestamp = hostNanoseconds();
  return CL_SUCCESS;
}

cl_int hookGetPlatformInfo(cl_platform_id Platform, cl_platform_info Param, size_t Size,
                           void *Value, size_t *SizeRet) {
  if (Param != CL_PLATFORM_HOST_TIMER_RESOLUTION ||
      platformServed(Platform, layerServesUsm) != CL_SUCCESS)
    return gNext.clGetPlatformInfo(Platform, Param, Size, Value, SizeRet);
  cl_ulong Resolution = 0;
  cl_int Error =
      gNext.clGetPlatformInfo(Platform, Param, sizeof(Resolution), &Resolution, nullptr);
  if (Error != CL_SUCCESS && Error != CL_INVALID_VALUE)
    return Error;
  if (Error == CL_SUCCESS && Resolution != 0)
    return gNext.clGetPlatformInfo(Platform, Param, Size, Value, SizeRet);
  return answerValue(Size, Value, SizeRet, cl_ulong(1)); // nanoseconds of the host clock
}

// A device without sub-groups runs every work-item as its own sub-group of one.
// It agrees with the device's sub-group count the layer answers.
cl_int hookGetKernelSubGroupInfo(cl_kernel Kernel, cl_device_id Device,
                                 cl_kernel_sub_group_info Param, size_t InputSize,
                                 const void *Input, size_t Size, void *Value, size_t *SizeRet) {
  cl_int Error = gNext.clGetKernelSubGroupInfo(Kernel, Device, Param, InputSize, Input, Size,
                                               Value, SizeRet);
  if (Error != CL_INVALID_OPERATION || !servedDevice(Device))
    return Error;
  cl_uint DeviceSubGroups = 0;
  gNext.clGetDeviceInfo(Device, CL_DEVICE_MAX_NUM_SUB_GROUPS, sizeof(DeviceSubGroups),
                        &DeviceSubGroups, nullptr);
  if (DeviceSubGroups != 0)
    return Error;
  bool NeedsRange = Param == CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE ||
                    Param == CL_KERNEL_SUB_GROUP_COUNT_FOR_NDRANGE;
  if (NeedsRange && (!Input || InputSize == 0 || InputSize % sizeof(size_t) != 0 ||
                     InputSize > 3 * sizeof(size_t)))
    return CL_INVALID_VALUE;
  switch (Param) {
  case CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE:
    return answerValue(Size, Value, SizeRet, size_t(1));
  case CL_KERNEL_SUB_GROUP_COUNT_FOR_NDRANGE: {
    size_t Count = 1;
    auto Local = static_cast<const size_t *>(Input);
    for (size_t I = 0; I < InputSize / sizeof(size_t); ++I)
      if (__builtin_mul_overflow(Count, Local[I], &Count))
        return CL_INVALID_VALUE; // no work-group is that large
    return answerValue(Size, Value, SizeRet, Count);
  }
  case CL_KERNEL_MAX_NUM_SUB_GROUPS: {
    size_t Limit = 0;
    Error = gNext.clGetKernelWorkGroupInfo(Kernel, Device, CL_KERNEL_WORK_GROUP_SIZE,
                                           sizeof(Limit), &Limit, nullptr);
    return Error != CL_SUCCESS ? Error : answerValue(Size, Value, SizeRet, Limit);
  }
  case CL_KERNEL_COMPILE_NUM_SUB_GROUPS:
    return answerValue(Size, Value, SizeRet, size_t(0));
  default:
    return Error;
  }
}

} // namespace

void installUsmQueryHooks(cl_icd_dispatch &Table) {
  Table.clGetDeviceInfo = guarded<hookGetDeviceInfo>;
  Table.clGetPlatformInfo = guarded<hookGetPlatformInfo>;
  Table.clGetExtensionFunctionAddressForPlatform =
      guarded<hookGetExtensionFunctionAddressForPlatform>;
  Table.clGetExtensionFunctionAddress = guarded<hookGetExtensionFunctionAddress>;
  Table.clGetDeviceAndHostTimer = guarded<hookGetDeviceAndHostTimer>;
  Table.clGetHostTimer = guarded<hookGetHostTimer>;
  Table.clGetKernelSubGroupInfo = guarded<hookGetKernelSubGroupInfo>;
}
