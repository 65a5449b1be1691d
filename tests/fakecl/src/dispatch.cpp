// The dispatch table shared by every handle, and the list of vendor functions.
#include "api.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace fakecl {

static const char *const SlotNames[] = {
#include "dispatch_slot_names.inc"
};
constexpr size_t NumSlots = sizeof(SlotNames) / sizeof(SlotNames[0]);
static_assert(sizeof(cl_icd_dispatch) == NumSlots * sizeof(void *), "every dispatch slot has a name");

// A call to a function the driver does not implement stops the test with the function's name.
template <size_t Slot> void trap() {
  std::fprintf(stderr, "fakecl: %s is not implemented by the fake OpenCL driver\n", SlotNames[Slot]);
  std::abort();
}

template <size_t... Slots> static void fillTraps(void **Table, std::index_sequence<Slots...>) {
  ((Table[Slots] = reinterpret_cast<void *>(&trap<Slots>)), ...);
}

static cl_icd_dispatch makeDispatch() {
  cl_icd_dispatch D;
  void *Slots[NumSlots];
  fillTraps(Slots, std::make_index_sequence<NumSlots>());
  std::memcpy(&D, Slots, sizeof(D));
  D.clGetPlatformInfo = GetPlatformInfo;
  D.clGetDeviceIDs = GetDeviceIDs;
  D.clGetDeviceInfo = GetDeviceInfo;
  D.clRetainDevice = RetainDevice;
  D.clReleaseDevice = ReleaseDevice;
  D.clGetExtensionFunctionAddressForPlatform = GetExtensionFunctionAddressForPlatform;
  D.clCreateContext = CreateContext;
  D.clCreateContextFromType = CreateContextFromType;
  D.clRetainContext = RetainContext;
  D.clReleaseContext = ReleaseContext;
  D.clGetContextInfo = GetContextInfo;
  D.clCreateCommandQueueWithProperties = CreateCommandQueueWithProperties;
  D.clCreateCommandQueue = CreateCommandQueue;
  D.clRetainCommandQueue = RetainCommandQueue;
  D.clReleaseCommandQueue = ReleaseCommandQueue;
  D.clGetCommandQueueInfo = GetCommandQueueInfo;
  D.clFinish = Finish;
  D.clFlush = Flush;
  D.clWaitForEvents = WaitForEvents;
  D.clGetEventInfo = GetEventInfo;
  D.clGetEventProfilingInfo = GetEventProfilingInfo;
  D.clRetainEvent = RetainEvent;
  D.clReleaseEvent = ReleaseEvent;
  D.clGetDeviceAndHostTimer = GetDeviceAndHostTimer;
  D.clGetHostTimer = GetHostTimer;
  D.clEnqueueMarkerWithWaitList = EnqueueMarkerWithWaitList;
  D.clEnqueueBarrierWithWaitList = EnqueueBarrierWithWaitList;
  D.clCreateProgramWithIL = CreateProgramWithIL;
  D.clCreateProgramWithSource = CreateProgramWithSource;
  D.clCreateProgramWithBinary = CreateProgramWithBinary;
  D.clBuildProgram = BuildProgram;
  D.clCompileProgram = CompileProgram;
  D.clLinkProgram = LinkProgram;
  D.clRetainProgram = RetainProgram;
  D.clReleaseProgram = ReleaseProgram;
  D.clGetProgramInfo = GetProgramInfo;
  D.clGetProgramBuildInfo = GetProgramBuildInfo;
  D.clSetProgramSpecializationConstant = SetProgramSpecializationConstant;
  D.clCreateKernel = CreateKernel;
  D.clRetainKernel = RetainKernel;
  D.clReleaseKernel = ReleaseKernel;
  D.clGetKernelInfo = GetKernelInfo;
  D.clGetKernelArgInfo = GetKernelArgInfo;
  D.clGetKernelWorkGroupInfo = GetKernelWorkGroupInfo;
  D.clGetKernelSubGroupInfo = GetKernelSubGroupInfo;
  D.clSetKernelArg = SetKernelArg;
  D.clSetKernelExecInfo = SetKernelExecInfo;
  D.clEnqueueNDRangeKernel = EnqueueNDRangeKernel;
  D.clSVMAlloc = SVMAlloc;
  D.clSetKernelArgSVMPointer = SetKernelArgSVMPointer;
  D.clSVMFree = SVMFree;
  D.clEnqueueSVMMemcpy = EnqueueSVMMemcpy;
  D.clEnqueueSVMFree = EnqueueSVMFree;
  return D;
}

const cl_icd_dispatch *dispatchTable() {
  static const cl_icd_dispatch Table = makeDispatch();
  return &Table;
}

void *vendorFunction(const char *Name) {
  static const std::pair<const char *, void *> Functions[] = {
      {"clGetMemAllocInfoTARNO", reinterpret_cast<void *>(static_cast<GetMemAllocInfoFn>(GetMemAllocInfo))},
      {"clHostMemAllocTARNO", reinterpret_cast<void *>(static_cast<HostMemAllocFn>(HostMemAlloc))},
      {"clDeviceMemAllocTARNO", reinterpret_cast<void *>(static_cast<DeviceMemAllocFn>(DeviceMemAlloc))},
      {"clSharedMemAllocTARNO", reinterpret_cast<void *>(static_cast<DeviceMemAllocFn>(SharedMemAlloc))},
      {"clMemFreeTARNO", reinterpret_cast<void *>(static_cast<MemFreeFn>(MemFree))},
      {"clMemBlockingFreeTARNO", reinterpret_cast<void *>(static_cast<MemFreeFn>(MemBlockingFree))},
      {"clSetKernelArgMemPointerTARNO",
       reinterpret_cast<void *>(static_cast<SetKernelArgMemPointerFn>(SetKernelArgMemPointer))},
      {"clEnqueueMemcpyTARNO", reinterpret_cast<void *>(static_cast<EnqueueMemcpyFn>(EnqueueMemcpy))},
      {"clSetProgramSpecializationConstant",
       reinterpret_cast<void *>(static_cast<SetProgramSpecializationConstantFn>(SetProgramSpecializationConstant))},
      {"clGetDeviceGlobalVariablePointerTARNO",
       reinterpret_cast<void *>(static_cast<GetDeviceGlobalVariablePointerFn>(GetDeviceGlobalVariablePointer))},
      {"clGetKernelSuggestedLocalWorkSizeTARNO",
       reinterpret_cast<void *>(static_cast<GetKernelSuggestedLocalWorkSizeFn>(GetKernelSuggestedLocalWorkSize))},
      {"clVelkIndirectAllocationOffsets",
       reinterpret_cast<void *>(static_cast<IndirectAllocationOffsetsFn>(IndirectAllocationOffsets))},
  };
  static_assert(sizeof(Functions) / sizeof(Functions[0]) == NumVendorFunctions, "one entry per vendor function");
  for (auto &F : Functions)
    if (std::strcmp(F.first, Name) == 0)
      return F.second;
  return nullptr;
}

} // namespace fakecl
