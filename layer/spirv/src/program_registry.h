// Programs the layer compiles itself (created from SPIR-V or linked from such programs). The
// handle the application holds is a placeholder program of the driver's; kernels come from a
// separate driver program built from the final bitcode.
#pragma once

#include "opencl_api.h"
#include "program_build.h"
#include "program_compiler.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct ProgramRecord {
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
  std::vector<cl_device_id> Devices;
  std::vector<char> Spirv; // empty for linked programs
  std::map<cl_uint, uint64_t> SpecConstants;
  std::string Bitcode;     // compiled object, library, or linked module before finalising
  cl_program_binary_type BinaryType = CL_PROGRAM_BINARY_TYPE_NONE;
  cl_build_status Status = CL_BUILD_NONE;
  bool Busy = false;       // a compile, link or build is running
  std::string Options;
  std::string Log;
  ExecutableBuild Built;   // empty until a build or link made an executable
  cl_uint AttachedKernels = 0;
};

// The caller holds the state lock and, for addProgram, calls adoptChild after it; removeProgram's
// caller calls dropChild once the lock is released.
void addProgram(cl_program Program, std::unique_ptr<ProgramRecord> Record);
std::unique_ptr<ProgramRecord> removeProgram(cl_program Program);
// Looks a program up; null when the layer does not own it. The caller holds the state lock.
ProgramRecord *findProgram(cl_program Program);
// Whether a program of the context has its variables in a block; the caller holds the lock.
bool contextHasGlobals(cl_context Context);

// For kernel creation: the driver program to create kernels from. Owned is set for the layer's
// programs; an error when such a program has no executable.
cl_int kernelSourceProgram(cl_program Program, cl_program &Source, bool &Owned);
// A kernel of an owned program keeps the program alive, and may take the program's globals
// block as a hidden argument.
struct KernelAttachment {
  void *GlobalsBlock = nullptr;
  cl_uint HiddenArgument = 0; // 1 + its index; 0 when there is none
};
// Counts a new kernel of an owned program and retains the program for it: CL_SUCCESS, or the
// driver's error with nothing changed.
cl_int attachKernel(cl_program Program, const std::string &Name, KernelAttachment &Attachment);
void detachKernel(cl_program Program);
// Description of a kernel of an owned program, copied; false when unknown.
bool ownedKernelDesc(cl_program Program, const std::string &Name, KernelDesc &Desc);

void installProgramHooks(cl_icd_dispatch &Table);
