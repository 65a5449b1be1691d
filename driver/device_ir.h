// Rewrites of clang-22's device code (LLVM IR text) that the OpenCL path needs:
//   - global variables in the default address space (where clang-22 puts declare-target and
//     other program variables) moved to the global one: the SPIR-V backend would make them
//     function-local copies, one per function;
//   - the device offload table ("__omp_offloading_entries_table" and its byte size) listing the
//     program's declare-target variables by the names the host program registers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A variable entry of the host program (from the host IR's offload entries).
struct HostVariable {
  std::string Name;
  uint64_t Size = 0;
};

// The declare-target variables (entries of non-zero size) the host IR registers, in its order.
std::vector<HostVariable> hostVariables(const std::string &HostIR);

// Names of the global variables IR defines or declares in the default address space (compiler
// variables "llvm.*" excepted).
std::vector<std::string> defaultSpaceGlobals(const std::string &IR);

// IR with those globals in address space 1 and every use cast back to the default space.
std::string moveToGlobalSpace(const std::string &IR, const std::vector<std::string> &Names);

// IR with every atomicrmw fadd/fsub/fmin/fmax on float or double made a call of the device
// runtime's compare-and-swap loop for it ("__devrt_atomic_<op>_<type>_p<address space>").
std::string lowerFloatAtomics(const std::string &IR);

// IR without stores of function addresses, which SPIR-V cannot express. The device runtime's
// task records keep their entry function so; once inlined, the call through it is direct and the
// store has no reader left. A load that still needs one stays an indirect call, which the SPIR-V
// backend refuses.
std::string dropFunctionAddressStores(const std::string &IR);

// IR with every function made always-inline and no call kept from inlining: the CPU driver
// gives work-group local variables their storage only in kernels, so device code reaching them
// must end up inside its kernels.
std::string inlineEverything(const std::string &IR);

// IR text defining the device offload table for the variables among Variables that the device IR
// defines (Defined), sorted by name; variables are referenced in address space 1.
std::string offloadTableIR(std::vector<HostVariable> Variables,
                           const std::vector<std::string> &Defined);
