// The extension functions the SPIR-V layer answers itself.
#pragma once

#include "opencl_api.h"

extern "C" {
cl_int CL_API_CALL layerGetDeviceGlobalVariablePointer(cl_device_id device, cl_program program,
                                                       const char *name, size_t *size,
                                                       void **ptr);
cl_int CL_API_CALL layerSetProgramSpecializationConstant(cl_program program, cl_uint spec_id,
                                                         size_t spec_size,
                                                         const void *spec_value);
}
