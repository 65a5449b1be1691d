// Program-scope variables reached through one pointer that every kernel receives as a hidden last
// argument, set when the kernel is created: the generated code then never holds the block's
// address, stays the same from run to run, and the driver's own program cache can hit.
#pragma once

#include <llvm/IR/GlobalVariable.h>
#include <llvm/IR/Module.h>

#include <string>

// The name of the hidden parameter, and of the variable that stands for the block until then.
constexpr const char *kGlobalsParameterName = "__omp_layer_globals";

// Replaces every use of Anchor (an i8 variable in the global address space standing for the
// block's start) by a parameter added to each kernel and to each function that reaches the
// block; calls pass it on. False, with the module unchanged in meaning but possibly partly
// rewritten, when a function that reaches the block is used other than by direct calls.
bool passGlobalsByParameter(llvm::Module &M, llvm::GlobalVariable &Anchor, std::string &Log);
