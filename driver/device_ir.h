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

// An offload entry of the host program (from the host IR): a declare-target variable (Size
// non-zero), a target region, or a function (Flags 0x8).
struct HostEntry {
  std::string Name;
  uint64_t Size = 0;
  uint32_t Flags = 0;
};

// The entries the host IR registers, in its order.
std::vector<HostEntry> hostEntries(const std::string &HostIR);

// IR in which the format strings of printf calls (constant strings used only as formats) are in
// the constant address space and the calls pass them so: SPIR-V's printf takes its format
// there. Their names are added to Formats (they are not to be moved to the global space).
std::string constantPrintfFormats(const std::string &IR, std::vector<std::string> &Formats);

// Names of the global variables IR defines or declares in the default address space (compiler
// variables "llvm.*" excepted).
std::vector<std::string> defaultSpaceGlobals(const std::string &IR);

// IR with those globals in address space 1 and every use cast back to the default space.
std::string moveToGlobalSpace(const std::string &IR, const std::vector<std::string> &Names);

// IR with every atomicrmw fadd/fsub/fmin/fmax on float or double made a call of the device
// runtime's compare-and-swap loop for it ("__devrt_atomic_<op>_<type>_p<address space>").
std::string lowerFloatAtomics(const std::string &IR);

// IR in which the tasks created by __kmpc_omp_task_alloc with a known entry are started through
// __devrt_omp_task[_with_deps]_entry, which take the entry as an argument: the call becomes
// direct where the runtime is inlined, instead of going through the task record in memory.
std::string bindTaskEntries(const std::string &IR);

// IR with every function and call in the default calling convention. clang-22's SPIR-V device
// code mixes spir_func and the default convention between callers and callees (task and
// outlined functions, the runtime's entry points); a mismatched call is undefined and the
// optimiser deletes it. SPIR-V has no calling conventions: all are one here.
// Linked device IR with the program data record ("__omp_spirv_program_data") external again:
// linking the runtime in made it internal, and an internal variable nothing on the device
// stores to is folded to its zero initialiser, while the plugin writes it by name after loading.
std::string exportProgramData(const std::string &IR);

std::string unifyCallingConventions(const std::string &IR);

// IR without stores of function addresses, which SPIR-V cannot express. The device runtime's
// task records keep their entry function so; once inlined, the call through it is direct and the
// store has no reader left. A load that still needs one stays an indirect call, which the SPIR-V
// backend refuses.
std::string dropFunctionAddressStores(const std::string &IR);

// IR with the add and subtract with overflow intrinsics (which the optimiser forms, and which
// become SPIR-V instructions the translator cannot read) replaced by functions computing the
// same with plain arithmetic and comparisons.
std::string lowerOverflowIntrinsics(const std::string &IR);

// The OpenMP runtime functions (__kmpc_*, omp_*, ompx_*) IR declares but does not define, in
// order: after the device runtime is linked in, what the program needs and the runtime lacks.
std::vector<std::string> missingRuntimeFunctions(const std::string &IR);

// What in the front end's device IR exceeds the device runtime's fixed limits, one message per
// call: parallel regions with more than 64 captured values, reductions across teams of more than
// 64 KiB, shared variables of more than 64 KiB. Empty when all fit.
std::vector<std::string> deviceLimitProblems(const std::string &IR);

// The kernels the front end's device IR runs in generic mode (their kernel environment says so):
// the device runtime runs their parallel regions on one thread per team.
std::vector<std::string> genericKernels(const std::string &IR);

// IR with every function made always-inline and no call kept from inlining: the CPU driver
// gives work-group local variables their storage only in kernels, so device code reaching them
// must end up inside its kernels. Library calls are left as written ("no-builtins"): printf
// made puts, or a loop made memset, would need functions the device does not have.
std::string inlineEverything(const std::string &IR);

// IR text defining the device offload table, sorted by name: the variables among Entries that the
// device IR defines (Defined; referenced in address space 1) and the target regions (no
// address). Functions are left out: SPIR-V cannot hold their addresses.
std::string offloadTableIR(std::vector<HostEntry> Entries, const std::vector<std::string> &Defined);
