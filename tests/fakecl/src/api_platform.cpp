// Platforms, devices and the lookup of vendor functions.
#include "api.h"
#include "call.h"
#include "info.h"
#include "scenario.h"

namespace fakecl {

PlatformModel *platformOf(State &S, cl_platform_id P) {
  for (auto &Model : S.Platforms)
    if (&Model->Handle == P)
      return Model.get();
  return nullptr;
}

DeviceModel *deviceOf(State &S, cl_device_id D) {
  for (auto &P : S.Platforms)
    for (auto &Model : P->Devices)
      if (&Model->Handle == D)
        return Model.get();
  return nullptr;
}

cl_int CL_API_CALL GetPlatformInfo(cl_platform_id Platform, cl_platform_info Param, size_t Size, void *Value,
                                   size_t *SizeRet) {
  Call C("clGetPlatformInfo", Platform, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  PlatformModel *P = platformOf(C.S, Platform);
  if (!P)
    return C.ret(CL_INVALID_PLATFORM);
  return C.ret(answerInfo(findInfo(P->Info, Param), Size, Value, SizeRet));
}

// The loader's own start-up queries: recorded under a separate name and never faulted, so fault
// rules count only the calls of the program under test.
cl_int CL_API_CALL LoaderGetPlatformInfo(cl_platform_id Platform, cl_platform_info Param, size_t Size,
                                         void *Value, size_t *SizeRet) {
  initFromEnvironment();
  Call C("loader:clGetPlatformInfo", Platform, Hex{Param}, Size, Value, SizeRet);
  PlatformModel *P = platformOf(C.S, Platform);
  if (!P)
    return C.ret(CL_INVALID_PLATFORM);
  return C.ret(answerInfo(findInfo(P->Info, Param), Size, Value, SizeRet));
}

cl_int CL_API_CALL IcdGetPlatformIDs(cl_uint NumEntries, cl_platform_id *Platforms, cl_uint *NumPlatforms) {
  initFromEnvironment();
  Call C("loader:clIcdGetPlatformIDsKHR", NumEntries, Platforms, NumPlatforms);
  if ((NumEntries == 0 && Platforms) || (!Platforms && !NumPlatforms))
    return C.ret(CL_INVALID_VALUE);
  cl_uint Count = static_cast<cl_uint>(C.S.Platforms.size());
  if (NumPlatforms)
    *NumPlatforms = Count;
  if (Platforms) {
    C.S.Enumerated = true;
    for (cl_uint I = 0; I < Count && I < NumEntries; ++I)
      Platforms[I] = &C.S.Platforms[I]->Handle;
  }
  return C.ret(Count ? CL_SUCCESS : CL_PLATFORM_NOT_FOUND_KHR);
}

cl_int CL_API_CALL GetDeviceIDs(cl_platform_id Platform, cl_device_type Type, cl_uint NumEntries,
                                cl_device_id *Devices, cl_uint *NumDevices) {
  Call C("clGetDeviceIDs", Platform, Hex{Type}, NumEntries, Devices, NumDevices);
  if (cl_int E = C.fault())
    return C.ret(E);
  PlatformModel *P = platformOf(C.S, Platform);
  if (!P)
    return C.ret(CL_INVALID_PLATFORM);
  const cl_device_type Known = CL_DEVICE_TYPE_DEFAULT | CL_DEVICE_TYPE_CPU | CL_DEVICE_TYPE_GPU |
                               CL_DEVICE_TYPE_ACCELERATOR | CL_DEVICE_TYPE_CUSTOM;
  if (Type != CL_DEVICE_TYPE_ALL && (Type & ~Known))
    return C.ret(CL_INVALID_DEVICE_TYPE);
  if ((NumEntries == 0 && Devices) || (!Devices && !NumDevices))
    return C.ret(CL_INVALID_VALUE);
  std::vector<cl_device_id> Matching;
  for (auto &D : P->Devices) {
    bool IsDefault = Type == CL_DEVICE_TYPE_DEFAULT && Matching.empty();
    if (Type == CL_DEVICE_TYPE_ALL || (D->Type & Type) || IsDefault)
      Matching.push_back(&D->Handle);
  }
  if (NumDevices)
    *NumDevices = static_cast<cl_uint>(Matching.size());
  if (Matching.empty())
    return C.ret(CL_DEVICE_NOT_FOUND);
  for (cl_uint I = 0; Devices && I < NumEntries && I < Matching.size(); ++I)
    Devices[I] = Matching[I];
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetDeviceInfo(cl_device_id Device, cl_device_info Param, size_t Size, void *Value,
                                 size_t *SizeRet) {
  Call C("clGetDeviceInfo", Device, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  DeviceModel *D = deviceOf(C.S, Device);
  if (!D)
    return C.ret(CL_INVALID_DEVICE);
  return C.ret(answerInfo(findInfo(D->Info, Param), Size, Value, SizeRet));
}

cl_int CL_API_CALL RetainDevice(cl_device_id Device) {
  Call C("clRetainDevice", Device);
  if (cl_int E = C.fault())
    return C.ret(E);
  return C.ret(deviceOf(C.S, Device) ? CL_SUCCESS : CL_INVALID_DEVICE);
}

cl_int CL_API_CALL ReleaseDevice(cl_device_id Device) {
  Call C("clReleaseDevice", Device);
  if (cl_int E = C.fault())
    return C.ret(E);
  return C.ret(deviceOf(C.S, Device) ? CL_SUCCESS : CL_INVALID_DEVICE);
}

void *CL_API_CALL GetExtensionFunctionAddressForPlatform(cl_platform_id Platform, const char *Name) {
  Call C("clGetExtensionFunctionAddressForPlatform", Platform, Str{Name});
  void *Fn = nullptr;
  PlatformModel *P = platformOf(C.S, Platform);
  if (P && Name && !C.fault()) {
    auto It = P->ExtensionFunctions.find(Name);
    if (It != P->ExtensionFunctions.end())
      Fn = It->second;
  }
  return C.retHandle(Fn, CL_SUCCESS, nullptr);
}

} // namespace fakecl

using namespace fakecl;

// The exported entry points the loader looks up by name.
extern "C" {

__attribute__((visibility("default"))) cl_int CL_API_CALL clIcdGetPlatformIDsKHR(cl_uint NumEntries, cl_platform_id *Platforms,
                                                       cl_uint *NumPlatforms) {
  return IcdGetPlatformIDs(NumEntries, Platforms, NumPlatforms);
}

__attribute__((visibility("default"))) cl_int CL_API_CALL clGetPlatformInfo(cl_platform_id Platform, cl_platform_info Param, size_t Size,
                                                  void *Value, size_t *SizeRet) {
  return LoaderGetPlatformInfo(Platform, Param, Size, Value, SizeRet);
}

__attribute__((visibility("default"))) void *CL_API_CALL clGetExtensionFunctionAddress(const char *Name) {
  initFromEnvironment();
  if (!Name)
    return nullptr;
  std::string N = Name;
  if (N == "clIcdGetPlatformIDsKHR")
    return reinterpret_cast<void *>(&IcdGetPlatformIDs);
  if (N == "clGetPlatformInfo")
    return reinterpret_cast<void *>(&LoaderGetPlatformInfo);
  return vendorFunction(Name);
}

} // extern "C"
