#include "device/device_records.h"
#include "device/platform_info.h"

const char *const ExtensionFunctionTableNames[ExtensionFunctionCount] = {
    "clGetMemAllocInfoTARNO",
    "clHostMemAllocTARNO",
    "clDeviceMemAllocTARNO",
    "clSharedMemAllocTARNO",
    "clMemFreeTARNO",
    "clMemBlockingFreeTARNO",
    "clSetKernelArgMemPointerTARNO",
    "clEnqueueMemcpyTARNO",
    "clSetProgramSpecializationConstant",
    "clGetDeviceGlobalVariablePointerTARNO",
    "clGetKernelSuggestedLocalWorkSizeTARNO",
    "clVelkIndirectAllocationOffsets",
};

DeviceExtensionsTy::DeviceExtensionsTy()
    : LibdeviceExtensions{
          {"cl_tarno_devicelib_cassert", "libomp-fallback-cassert.spv", ExtensionNotFound},
          {"cl_tarno_devicelib_math", "libomp-fallback-cmath.spv", ExtensionNotFound},
          {"cl_tarno_devicelib_math_fp64", "libomp-fallback-cmath-fp64.spv", ExtensionNotFound},
          {"cl_tarno_devicelib_complex", "libomp-fallback-complex.spv", ExtensionNotFound},
          {"cl_tarno_devicelib_complex_fp64", "libomp-fallback-complex-fp64.spv",
           ExtensionNotFound},
          {"cl_tarno_devicelib_cstring", "libomp-fallback-cstring.spv", ExtensionNotFound},
      } {}
