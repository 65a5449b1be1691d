// Platform and device discovery: the first entry point that touches OpenCL.
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "omptargetplugin.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char *Op = "__tgt_rtl_number_of_devices";

// The CL_PLATFORM_VERSION text, or empty when it cannot be read (reported) or is empty.
std::string readPlatformVersion(cl_platform_id ID) {
  size_t BufSize = 0;
  if (CL_CALL(Op, clGetPlatformInfo, ID, 0x0901, 0, nullptr, &BufSize) != CL_SUCCESS ||
      BufSize == 0)
    return std::string();
  std::vector<char> Buf(BufSize + 1, '\0');
  if (CL_CALL(Op, clGetPlatformInfo, ID, 0x0901, BufSize, Buf.data(), nullptr) != CL_SUCCESS)
    return std::string();
  return std::string(Buf.data());
}

// Platforms above OpenCL 2.0 qualify. The text starts with the word "OpenCL"; a text with no
// number after it does not qualify.
bool isVersionAbove20(const std::string &Version) {
  if (Version.size() <= 6)
    return false;
  const char *Number = Version.c_str() + 6;
  char *End = nullptr;
  float Value = std::strtof(Number, &End);
  return End != Number && Value > 2.0f;
}

PlatformInfoTy makePlatformInfo(cl_platform_id platform, cl_context Context) {
  PlatformInfoTy Info;
  Info.Platform = platform;
  Info.Context = Context;
  Info.ExtensionFunctionNames.assign(ExtensionFunctionTableNames,
                                     ExtensionFunctionTableNames + ExtensionFunctionCount);
  const std::vector<const char *> &ExtensionFunctionNames = Info.ExtensionFunctionNames;
  for (size_t i = 0; i < ExtensionFunctionNames.size(); ++i) {
    void *Fn = CL_CALL_LOGGED(clGetExtensionFunctionAddressForPlatform, platform,
                              ExtensionFunctionNames[i]);
    if (Fn)
      DP("Extension %s is found.\n", ExtensionFunctionNames[i]);
    else
      DP("Warning: Extension %s is not found.\n", ExtensionFunctionNames[i]);
    Info.ExtensionFunctionPointers.push_back(Fn);
  }
  return Info;
}

// Sizes every per-device container once the device count is known.
void sizeDeviceContainers(PluginDeviceInfo &DI) {
  uint32_t N = DI.NumDevices;
  DI.Programs.resize(N);
  if (!DI.singleContext())
    DI.Contexts.assign(N, nullptr);
  DI.DeviceProperties.assign(N, DevicePropertiesTy());
  DI.DeviceArchs.assign(N, 0);
  DI.Extensions.assign(N, DeviceExtensionsTy());
  DI.Queues.assign(N, nullptr);
  DI.KernelProperties.resize(N);
  DI.Profiles.resize(N);
  DI.Initialized.assign(N, false);
  DI.OwnedMemory.resize(N);
  DI.Mutexes.reset(new std::mutex[N]);
  DI.ProfileMutexes.reset(new std::mutex[N]);
  DI.AllocationTables.clear();
  for (uint32_t I = 0; I <= N; ++I)
    DI.AllocationTables.push_back(std::make_unique<AllocationTable>());
}

// Counts the devices and sizes the containers; on failure 0 with nothing sized.
int32_t discoverDevices(PluginDeviceInfo &DI) {
  cl_uint Count = 0;
  if (CL_CALL(Op, clGetPlatformIDs, 0, nullptr, &Count) != CL_SUCCESS)
    return 0;
  std::vector<cl_platform_id> PlatformIDs(Count);
  if (Count > 0 &&
      CL_CALL(Op, clGetPlatformIDs, Count, PlatformIDs.data(), nullptr) != CL_SUCCESS)
    return 0;

  for (cl_platform_id ID : PlatformIDs) {
    std::string Version = readPlatformVersion(ID);
    if (!isVersionAbove20(Version))
      continue;
    cl_uint NumDevices = 0;
    if (CL_CALL_LOGGED(clGetDeviceIDs, ID, DeviceInfo->Option.DeviceType, 0, nullptr, &NumDevices) !=
            CL_SUCCESS ||
        NumDevices == 0)
      continue;
    DP("Platform %s has %u Devices\n", Version.c_str(), NumDevices);
    std::vector<cl_device_id> Devices(NumDevices);
    if (CL_CALL(Op, clGetDeviceIDs, ID, DeviceInfo->Option.DeviceType, NumDevices,
                Devices.data(), nullptr) != CL_SUCCESS) {
      // Nothing is sized: forget the devices counted so far, so that no entry point can
      // reach the unsized containers through them.
      DI.NumDevices = 0;
      DI.Devices.clear();
      DI.Platforms.clear();
      return 0;
    }
    cl_context Context = nullptr;
    if (DI.singleContext()) {
      cl_context_properties ContextProperties[] = {
          0x1084, reinterpret_cast<cl_context_properties>(ID), 0};
      cl_int Rc = CL_SUCCESS;
      Context = CL_INVOKE_RC(clCreateContext, Rc, ContextProperties, Devices.size(),
                             Devices.data(), nullptr, nullptr);
      if (CL_CHECK_RC(Op, clCreateContext, Rc) != CL_SUCCESS)
        continue;
    }
    if (!DI.PlatformInfos.count(ID))
      DI.PlatformInfos.emplace(ID, makePlatformInfo(ID, Context));
    for (cl_device_id Device : Devices) {
      DI.Devices.push_back(Device);
      DI.Platforms.push_back(ID);
    }
    DI.NumDevices += NumDevices;
  }

  sizeDeviceContainers(DI);
  if (DI.NumDevices == 0)
    DP("WARNING: No OpenCL devices found.\n");
  return static_cast<int32_t>(DI.NumDevices);
}

} // namespace

extern "C" int32_t __tgt_rtl_number_of_devices() {
  if (!DeviceInfo)
    return 0;
  PluginDeviceInfo &DI = *DeviceInfo;
  // The numbering of the first count holds for the whole run: containers sized for it are in use.
  if (DI.Discovered)
    return static_cast<int32_t>(DI.NumDevices);
  DI.Discovered = true;
  DP("Start initializing OpenCL\n");
  return discoverDevices(DI);
}
