#include "device/arch_tables.h"
#include "device/device_setup.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"

#include <vector>

namespace {

constexpr const char *Op = "getDeviceProperties";

void printDeviceProperties(const DevicePropertiesTy &P) {
  DP("Device Properties:\n");
  DP("-- Name                         : %s\n", P.Name.c_str());
  DP("-- PCI ID                       : 0x%x\n", P.DeviceId);
  DP("-- Number of total EUs          : %u\n", P.NumEUs);
  DP("-- Number of threads per EU     : %u\n", P.NumThreadsPerEU);
  DP("-- Number of EUs per subslice   : %u\n", P.NumEUsPerSubslice);
  DP("-- Number of subslices per slice: %u\n", P.NumSubslicesPerSlice);
  DP("-- Number of slices             : %u\n", P.NumSlices);
  DP("-- Local memory size (bytes)    : %llu\n", static_cast<unsigned long long>(P.LocalMemSize));
  DP("-- Global memory size (bytes)   : %llu\n", static_cast<unsigned long long>(P.GlobalMemSize));
  DP("-- Cache size (bytes)           : %llu\n",
     static_cast<unsigned long long>(P.GlobalMemCacheSize));
  DP("-- Max clock frequency (MHz)    : %u\n", P.MaxClockFrequency);
  DP("-- Max workgroup size           : %zu\n", static_cast<size_t>(P.MaxWorkGroupSize));
  DP("-- Max allocation size (bytes)  : %llu\n",
     static_cast<unsigned long long>(P.MaxMemAllocSize));
}

// The queries in order; the first failure ends them.
bool queryProperties(cl_device_id ID, bool HasDeviceAttributeQuery, DevicePropertiesTy &P) {
  uint32_t &DeviceId = P.DeviceId, &NumSlices = P.NumSlices,
           &NumSubslicesPerSlice = P.NumSubslicesPerSlice,
           &NumEUsPerSubslice = P.NumEUsPerSubslice, &NumThreadsPerEU = P.NumThreadsPerEU,
           &NumEUs = P.NumEUs, &MaxClockFrequency = P.MaxClockFrequency;
  uint64_t &MaxWorkGroupSize = P.MaxWorkGroupSize, &LocalMemSize = P.LocalMemSize,
           &GlobalMemSize = P.GlobalMemSize, &GlobalMemCacheSize = P.GlobalMemCacheSize,
           &MaxMemAllocSize = P.MaxMemAllocSize;
  if (HasDeviceAttributeQuery &&
      (CL_CALL(Op, clGetDeviceInfo, ID, 0x4251, sizeof(DeviceId), &DeviceId, nullptr) ||
       CL_CALL(Op, clGetDeviceInfo, ID, 0x4252, sizeof(NumSlices), &NumSlices, nullptr) ||
       CL_CALL(Op, clGetDeviceInfo, ID, 0x4253, sizeof(NumSubslicesPerSlice),
               &NumSubslicesPerSlice, nullptr) ||
       CL_CALL(Op, clGetDeviceInfo, ID, 0x4254, sizeof(NumEUsPerSubslice), &NumEUsPerSubslice,
               nullptr) ||
       CL_CALL(Op, clGetDeviceInfo, ID, 0x4255, sizeof(NumThreadsPerEU), &NumThreadsPerEU,
               nullptr)))
    return false;
  if (CL_CALL(Op, clGetDeviceInfo, ID, 0x1002, sizeof(NumEUs), &NumEUs, nullptr))
    return false;
  size_t BufSize = 0;
  if (CL_CALL(Op, clGetDeviceInfo, ID, 0x102B, 0, nullptr, &BufSize))
    return false;
  if (BufSize != 0) {
    std::vector<char> Buf(BufSize + 1, '\0');
    if (CL_CALL(Op, clGetDeviceInfo, ID, 0x102B, BufSize, Buf.data(), nullptr))
      return false;
    P.Name += Buf.data(); // up to the first NUL
  }
  return !(
      CL_CALL(Op, clGetDeviceInfo, ID, 0x1004, sizeof(MaxWorkGroupSize), &MaxWorkGroupSize,
              nullptr) ||
      CL_CALL(Op, clGetDeviceInfo, ID, 0x1023, sizeof(LocalMemSize), &LocalMemSize, nullptr) ||
      CL_CALL(Op, clGetDeviceInfo, ID, 0x101F, sizeof(GlobalMemSize), &GlobalMemSize, nullptr) ||
      CL_CALL(Op, clGetDeviceInfo, ID, 0x101E, sizeof(GlobalMemCacheSize), &GlobalMemCacheSize,
              nullptr) ||
      CL_CALL(Op, clGetDeviceInfo, ID, 0x1010, sizeof(MaxMemAllocSize), &MaxMemAllocSize,
              nullptr) ||
      CL_CALL(Op, clGetDeviceInfo, ID, 0x100C, sizeof(MaxClockFrequency), &MaxClockFrequency,
              nullptr));
}

} // namespace

int32_t getDeviceProperties(int32_t DeviceNum, bool HasDeviceAttributeQuery) {
  DevicePropertiesTy &P = DeviceInfo->DeviceProperties[DeviceNum];
  P = DevicePropertiesTy(); // a retried initialisation must not append the name twice
  if (!queryProperties(DeviceInfo->Devices[DeviceNum], HasDeviceAttributeQuery, P))
    return -1;
  P.NumHWThreads = P.NumThreadsPerEU * P.NumEUs;
  if (StartupDebugLevel > 0)
    printDeviceProperties(P);
  return 0;
}

uint64_t decideDeviceArch(int32_t DeviceNum) {
  if (DeviceInfo->Option.DeviceType == DeviceTypeCPU)
    return DeviceArchCPU;
  const DevicePropertiesTy &P = DeviceInfo->DeviceProperties[DeviceNum];
  bool HasPCIId = DeviceInfo->Extensions[DeviceNum].DeviceAttributeQuery == ExtensionSupported;
  uint64_t Arch = matchDeviceArch(HasPCIId ? P.DeviceId : 0, P.Name);
  if (Arch == DeviceArchNone)
    DP("Warning: Cannot decide device arch for %s.\n", P.Name.c_str());
  return Arch;
}
