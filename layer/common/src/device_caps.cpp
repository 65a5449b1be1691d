#include "device_caps.h"

#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

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

namespace {

template <typename T> cl_int deviceValue(cl_device_id Device, cl_device_info Param, T &Value) {
  Value = T{};
  return gNext.clGetDeviceInfo(Device, Param, sizeof(T), &Value, nullptr);
}

// A query the driver does not know leaves the feature absent; any other failure is an error.
cl_int optional(cl_int Error) { return Error == CL_INVALID_VALUE ? CL_SUCCESS : Error; }

cl_int askDevice(cl_device_id Device, DeviceCaps &Caps) {
  cl_int Error = CL_SUCCESS;
  Caps.Extensions = deviceInfoText(Device, CL_DEVICE_EXTENSIONS, &Error);
  if (Error != CL_SUCCESS)
    return Error;
  if ((Error = optional(deviceValue(Device, CL_DEVICE_SVM_CAPABILITIES, Caps.Svm))) != CL_SUCCESS)
    return Error;
  std::string Il = deviceInfoText(Device, CL_DEVICE_IL_VERSION, &Error);
  if ((Error = optional(Error)) != CL_SUCCESS)
    return Error;
  Caps.AcceptsSpirv = Il.find("SPIR-V") != std::string::npos;
  if ((Error = deviceValue(Device, CL_DEVICE_TYPE, Caps.Type)) != CL_SUCCESS ||
      (Error = deviceValue(Device, CL_DEVICE_MAX_MEM_ALLOC_SIZE, Caps.MaxAllocSize)) !=
          CL_SUCCESS)
    return Error;
  return deviceValue(Device, CL_DEVICE_PLATFORM, Caps.Platform);
}

struct CapsCache {
  std::mutex Lock;
  std::unordered_map<cl_device_id, DeviceCaps> Devices;
};

CapsCache &capsCache() {
  static CapsCache *Cache = new CapsCache(); // used until the process ends
  return *Cache;
}

} // namespace

cl_int deviceCaps(cl_device_id Device, DeviceCaps &Caps) {
  CapsCache &Cache = capsCache();
  {
    std::lock_guard<std::mutex> Guard(Cache.Lock);
    auto It = Cache.Devices.find(Device);
    if (It != Cache.Devices.end()) {
      Caps = It->second;
      return CL_SUCCESS;
    }
  }
  // Asked without the lock; two threads asking at once get the same answers.
  DeviceCaps Asked;
  if (cl_int Error = askDevice(Device, Asked))
    return Error;
  std::lock_guard<std::mutex> Guard(Cache.Lock);
  Caps = Cache.Devices.emplace(Device, std::move(Asked)).first->second;
  return CL_SUCCESS;
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

bool hasNativeUsm(const DeviceCaps &Caps) {
  return extensionListHas(Caps.Extensions, LAYER_USM_EXTENSION_NAME);
}

bool layerServesUsm(const DeviceCaps &Caps) {
  return (Caps.Svm & CL_DEVICE_SVM_COARSE_GRAIN_BUFFER) != 0 && !hasNativeUsm(Caps);
}

bool layerTranslatesSpirv(const DeviceCaps &Caps) {
  return !Caps.AcceptsSpirv && (Caps.Svm & CL_DEVICE_SVM_COARSE_GRAIN_BUFFER) != 0;
}

cl_int contextDevices(cl_context Context, std::vector<cl_device_id> &Devices) {
  Devices.clear();
  size_t Size = 0;
  if (cl_int Error = gNext.clGetContextInfo(Context, CL_CONTEXT_DEVICES, 0, nullptr, &Size))
    return Error;
  Devices.resize(Size / sizeof(cl_device_id));
  cl_int Error = gNext.clGetContextInfo(Context, CL_CONTEXT_DEVICES, Size, Devices.data(), nullptr);
  if (Error != CL_SUCCESS)
    Devices.clear();
  return Error;
}

cl_int platformDevices(cl_platform_id Platform, std::vector<cl_device_id> &Devices) {
  Devices.clear();
  cl_uint Count = 0;
  cl_int Error = gNext.clGetDeviceIDs(Platform, CL_DEVICE_TYPE_ALL, 0, nullptr, &Count);
  if (Error == CL_DEVICE_NOT_FOUND)
    return CL_SUCCESS;
  if (Error != CL_SUCCESS || Count == 0)
    return Error;
  Devices.resize(Count);
  Error = gNext.clGetDeviceIDs(Platform, CL_DEVICE_TYPE_ALL, Count, Devices.data(), nullptr);
  if (Error != CL_SUCCESS)
    Devices.clear();
  return Error;
}

namespace {
cl_int askPlatformServed(cl_platform_id Platform, bool (*Serves)(const DeviceCaps &)) {
  std::vector<cl_device_id> Devices;
  if (cl_int Error = platformDevices(Platform, Devices))
    return Error;
  for (cl_device_id Device : Devices) {
    DeviceCaps Caps;
    if (cl_int Error = deviceCaps(Device, Caps))
      return Error;
    if (Serves(Caps))
      return CL_SUCCESS;
  }
  return CL_INVALID_PLATFORM;
}
} // namespace

cl_int platformServed(cl_platform_id Platform, bool (*Serves)(const DeviceCaps &)) {
  using Key = std::pair<cl_platform_id, bool (*)(const DeviceCaps &)>;
  static std::mutex Lock;
  static auto *Known = new std::map<Key, cl_int>(); // until the process ends
  {
    std::lock_guard<std::mutex> Guard(Lock);
    auto It = Known->find(Key(Platform, Serves));
    if (It != Known->end())
      return It->second;
  }
  cl_int Served = askPlatformServed(Platform, Serves);
  if (Served == CL_SUCCESS || Served == CL_INVALID_PLATFORM) {
    std::lock_guard<std::mutex> Guard(Lock);
    Known->emplace(Key(Platform, Serves), Served);
  }
  return Served;
}
