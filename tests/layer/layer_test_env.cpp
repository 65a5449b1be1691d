#include "layer_test_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

const char *const kUsmFunctionNames[10] = {
    "clGetMemAllocInfoTARNO",        "clHostMemAllocTARNO",
    "clDeviceMemAllocTARNO",         "clSharedMemAllocTARNO",
    "clMemFreeTARNO",                "clMemBlockingFreeTARNO",
    "clSetKernelArgMemPointerTARNO", "clEnqueueMemcpyTARNO",
    "clGetDeviceGlobalVariablePointerTARNO", "clGetKernelSuggestedLocalWorkSizeTARNO"};

std::string deviceText(cl_device_id Device, cl_device_info Param) {
  size_t Size = 0;
  if (clGetDeviceInfo(Device, Param, 0, nullptr, &Size) != CL_SUCCESS || Size == 0)
    return std::string();
  std::string Text(Size, '\0');
  clGetDeviceInfo(Device, Param, Size, Text.data(), nullptr);
  Text.resize(std::strlen(Text.c_str()));
  return Text;
}

template <typename T> static void lookUp(cl_platform_id Platform, const char *Name, T &Slot) {
  Slot = reinterpret_cast<T>(clGetExtensionFunctionAddressForPlatform(Platform, Name));
}

bool openSetup(ClSetup &Setup) {
  cl_uint Count = 0;
  if (clGetPlatformIDs(0, nullptr, &Count) != CL_SUCCESS || Count == 0)
    return false;
  std::vector<cl_platform_id> Platforms(Count);
  clGetPlatformIDs(Count, Platforms.data(), nullptr);
  for (cl_platform_id Platform : Platforms) {
    cl_device_id Device = nullptr;
    if (clGetDeviceIDs(Platform, CL_DEVICE_TYPE_ALL, 1, &Device, nullptr) != CL_SUCCESS)
      continue;
    if (deviceText(Device, CL_DEVICE_EXTENSIONS).find("cl_tarno_unified_shared_memory") ==
        std::string::npos)
      continue;
    Setup.Platform = Platform;
    Setup.Device = Device;
    cl_int Error = CL_SUCCESS;
    Setup.Context = clCreateContext(nullptr, 1, &Device, nullptr, nullptr, &Error);
    cl_queue_properties Properties[] = {CL_QUEUE_PROPERTIES, CL_QUEUE_PROFILING_ENABLE, 0};
    Setup.Queue = clCreateCommandQueueWithProperties(Setup.Context, Device, Properties, &Error);
    UsmApi &Usm = Setup.Usm;
    lookUp(Platform, kUsmFunctionNames[0], Usm.GetMemAllocInfo);
    lookUp(Platform, kUsmFunctionNames[1], Usm.HostMemAlloc);
    lookUp(Platform, kUsmFunctionNames[2], Usm.DeviceMemAlloc);
    lookUp(Platform, kUsmFunctionNames[3], Usm.SharedMemAlloc);
    lookUp(Platform, kUsmFunctionNames[4], Usm.MemFree);
    lookUp(Platform, kUsmFunctionNames[5], Usm.MemBlockingFree);
    lookUp(Platform, kUsmFunctionNames[6], Usm.SetKernelArgMemPointer);
    lookUp(Platform, kUsmFunctionNames[7], Usm.EnqueueMemcpy);
    lookUp(Platform, kUsmFunctionNames[8], Usm.GetDeviceGlobalVariablePointer);
    lookUp(Platform, kUsmFunctionNames[9], Usm.GetKernelSuggestedLocalWorkSize);
    return Setup.Context && Setup.Queue && Usm.GetMemAllocInfo && Usm.EnqueueMemcpy;
  }
  return false;
}

void closeSetup(ClSetup &Setup) {
  if (Setup.Queue)
    clReleaseCommandQueue(Setup.Queue);
  if (Setup.Context)
    clReleaseContext(Setup.Context);
  Setup = ClSetup();
}

std::string programBuildLog(cl_program Program, cl_device_id Device) {
  size_t Size = 0;
  if (clGetProgramBuildInfo(Program, Device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &Size) !=
          CL_SUCCESS ||
      Size == 0)
    return std::string();
  std::string Log(Size, '\0');
  clGetProgramBuildInfo(Program, Device, CL_PROGRAM_BUILD_LOG, Size, Log.data(), nullptr);
  Log.resize(std::strlen(Log.c_str()));
  return Log;
}

std::vector<char> readKernel(const char *Name) {
  std::ifstream File(std::string(LAYER_TEST_KERNEL_DIR) + "/" + Name, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(File), {});
}

cl_program createFromKernel(const ClSetup &Setup, const char *Name) {
  std::vector<char> Spirv = readKernel(Name);
  EXPECT_FALSE(Spirv.empty()) << Name;
  cl_int Error = CL_SUCCESS;
  cl_program Program = clCreateProgramWithIL(Setup.Context, Spirv.data(), Spirv.size(), &Error);
  EXPECT_EQ(Error, CL_SUCCESS) << Name;
  return Program;
}

cl_program buildKernelProgram(const ClSetup &Setup, const char *Name) {
  cl_program Program = createFromKernel(Setup, Name);
  if (!Program)
    return nullptr;
  cl_int Error = clBuildProgram(Program, 0, nullptr, "-cl-std=CL2.0", nullptr, nullptr);
  EXPECT_EQ(Error, CL_SUCCESS) << programBuildLog(Program, Setup.Device);
  return Program;
}

cl_int runKernel(const ClSetup &Setup, cl_kernel Kernel, size_t Global, size_t Local) {
  cl_event Done = nullptr;
  cl_int Error = clEnqueueNDRangeKernel(Setup.Queue, Kernel, 1, nullptr, &Global,
                                        Local ? &Local : nullptr, 0, nullptr, &Done);
  if (Error != CL_SUCCESS)
    return Error;
  Error = clWaitForEvents(1, &Done);
  clReleaseEvent(Done);
  return Error;
}

std::vector<uint32_t> spirvWordsOf(const std::vector<char> &Bytes) {
  std::vector<uint32_t> Words(Bytes.size() / 4);
  std::memcpy(Words.data(), Bytes.data(), Words.size() * 4);
  return Words;
}

std::vector<char> spirvBytesOf(const std::vector<uint32_t> &Words) {
  auto First = reinterpret_cast<const char *>(Words.data());
  return std::vector<char>(First, First + Words.size() * 4);
}

size_t findInstruction(const std::vector<uint32_t> &Words, uint32_t Opcode) {
  for (size_t At = 5; At < Words.size() && (Words[At] >> 16) != 0; At += Words[At] >> 16)
    if ((Words[At] & 0xFFFF) == Opcode)
      return At;
  return 0;
}

std::vector<uint32_t> spirvString(const std::string &Text) {
  std::vector<uint32_t> Words(Text.size() / 4 + 1, 0);
  std::memcpy(Words.data(), Text.data(), Text.size());
  return Words;
}
