// Kernel calls the layer takes part in.
#pragma once

#include "opencl_api.h"

#include <string>

void installKernelHooks(cl_icd_dispatch &Table);

std::string kernelFunctionName(cl_kernel Kernel);
// The same, with the driver's error when the name cannot be had.
cl_int kernelFunctionName(cl_kernel Kernel, std::string &Name);

// Arguments after the kernel's own (the hidden one that carries its program's variables) are
// refused.
cl_int CL_API_CALL hookSetKernelArgSVMPointer(cl_kernel Kernel, cl_uint Index, const void *Value);

// Shared-memory parts, kept with the extension's other kernel functions.
cl_int pushIndirectPointers(cl_kernel Kernel);
cl_int CL_API_CALL hookSetKernelExecInfo(cl_kernel Kernel, cl_kernel_exec_info Param, size_t Size,
                                         const void *Value);
cl_int CL_API_CALL hookEnqueueNDRangeKernel(cl_command_queue Queue, cl_kernel Kernel,
                                            cl_uint WorkDim, const size_t *GlobalOffset,
                                            const size_t *GlobalSize, const size_t *LocalSize,
                                            cl_uint NumEvents, const cl_event *WaitList,
                                            cl_event *Event);
