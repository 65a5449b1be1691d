// The layer's own compiler steps for SPIR-V programs, free of LLVM types so that the OpenCL side
// of the layer does not see LLVM headers. Every function here is safe to call from any thread:
// each call works in its own LLVM context.
#pragma once

#include "opencl_api.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct KernelArgDesc {
  std::string Name;
  std::string TypeName;
  cl_kernel_arg_address_qualifier Address = CL_KERNEL_ARG_ADDRESS_PRIVATE;
  cl_kernel_arg_access_qualifier Access = CL_KERNEL_ARG_ACCESS_NONE;
  cl_kernel_arg_type_qualifier TypeQualifier = CL_KERNEL_ARG_TYPE_NONE;
};

struct KernelDesc {
  std::string Name;
  std::vector<KernelArgDesc> Args;
};

// A program-scope variable placed in the program's shared block.
struct GlobalSlot {
  std::string Name;
  size_t Offset = 0;
  size_t Size = 0;
};

// The most bytes one program-scope variable may take (CL_DEVICE_MAX_GLOBAL_VARIABLE_SIZE): the
// block is allocated and its initial contents built on the host at every build.
constexpr uint64_t kMaxProgramVariableSize = uint64_t(64) << 20;

struct ModuleResult {
  bool Ok = false;
  std::string Bitcode;
  std::string Log;
};

// SPIR-V to LLVM bitcode with OpenCL 2.0 builtins; specialisation constants by id.
ModuleResult translateSpirv(const std::vector<char> &Spirv,
                            const std::map<cl_uint, uint64_t> &SpecConstants);

// Ids and byte sizes of the specialisation constants a SPIR-V module declares.
bool readSpecConstantSizes(const std::vector<char> &Spirv, std::map<cl_uint, size_t> &Sizes);

// Whether bitcode from outside the layer reads and verifies (checked in the translator helper);
// why not is appended to Log.
bool bitcodeIsSound(const std::string &Bitcode, std::string &Log);

// Merges modules into one; symbol clashes become log lines, never a process exit.
ModuleResult linkModules(const std::vector<std::string> &Bitcodes);

struct ExecutableModule {
  bool Ok = false;
  std::string Log;
  std::string Bitcode;           // what the driver builds
  void *Block = nullptr;         // the program-scope variables, from the allocator given
  size_t BlockSize = 0;
  std::vector<unsigned char> BlockImage; // initial contents of the block
  std::vector<GlobalSlot> Globals;
  std::vector<KernelDesc> Kernels;
  // Every kernel takes the block's address as a hidden argument after its own.
  bool GlobalsByParameter = false;
};

// Moves every program-scope variable into one block from Allocate(Size, Alignment), reached
// through a hidden kernel argument where possible, and, when
// asked, sends generic-pointer builtin calls to the global-pointer overloads that the device's
// builtin library defines (valid where all memory is one flat space).
ExecutableModule finalizeModule(const std::string &Bitcode, bool RedirectGenericBuiltins,
                                const std::function<void *(size_t, size_t)> &Allocate);
