// What discovery keeps per platform: its shared context and its vendor extension functions.
#ifndef DEVICE_PLATFORM_INFO_H
#define DEVICE_PLATFORM_INFO_H

#include "frame/opencl.h"

#include <vector>

// Fixed indexes of ExtensionFunctionPointers; callers fetch a function by these.
enum ExtensionFunctionIndex : unsigned {
  ExtGetMemAllocInfo = 0,
  ExtHostMemAlloc = 1,
  ExtDeviceMemAlloc = 2,
  ExtSharedMemAlloc = 3,
  ExtMemFree = 4,
  ExtMemBlockingFree = 5,
  ExtSetKernelArgMemPointer = 6,
  ExtEnqueueMemcpy = 7,
  ExtSetProgramSpecializationConstant = 8,
  ExtGetDeviceGlobalVariablePointer = 9,
  ExtGetKernelSuggestedLocalWorkSize = 10,
  ExtIndirectAllocationOffsets = 11,
  ExtensionFunctionCount = 12,
};

// The names looked up, in index order.
extern const char *const ExtensionFunctionTableNames[ExtensionFunctionCount];

struct PlatformInfoTy {
  cl_platform_id Platform = nullptr;
  cl_context Context = nullptr; // the shared context in single-context mode, else null
  std::vector<const char *> ExtensionFunctionNames;
  std::vector<void *> ExtensionFunctionPointers; // null where the platform lacks the function
};

#endif
