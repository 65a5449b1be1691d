// Redirection of generic-pointer builtin calls to global-pointer overloads.
#pragma once

#include <llvm/IR/Module.h>

#include <string>

// Rewrites calls of undefined builtins whose mangled names take generic pointers ("PU3AS4") and
// that the device library lacks, to the "PU3AS1" overload it has. Returns the number redirected.
unsigned redirectGenericBuiltins(llvm::Module &Module, std::string &Log);
