// Kernel calls the SPIR-V layer takes part in.
#pragma once

#include "opencl_api.h"

#include <map>
#include <string>
#include <vector>

struct KernelRecord {
  cl_uint RefCount = 1;
  cl_program LayerProgram = nullptr; // the program the layer built the kernel for, if any
  void *GlobalsBlock = nullptr;      // the program's variables, which every launch may reach
  cl_uint HiddenArgument = 0;        // 1 + the index of the argument that carries GlobalsBlock
};

// The kernels the layer made; the caller holds layerState().Lock.
std::map<cl_kernel, KernelRecord> &kernelRecords();

void installKernelHooks(cl_icd_dispatch &Table);

std::string kernelFunctionName(cl_kernel Kernel);
// The same, with the driver's error when the name cannot be had.
cl_int kernelFunctionName(cl_kernel Kernel, std::string &Name);

// Arguments after the kernel's own (the hidden one that carries its program's variables) are
// refused.
cl_int CL_API_CALL hookSetKernelArgSVMPointer(cl_kernel Kernel, cl_uint Index, const void *Value);

