// Shared LLVM plumbing: contexts that log diagnostics instead of exiting, bitcode in and out.
#pragma once

#include <llvm/IR/LLVMContext.h>
#include <llvm/IR/Module.h>

#include <memory>
#include <string>

// A context with typed pointers (the SPIR-V reader needs them) whose diagnostics are appended to
// Log; an error diagnostic sets HadError instead of ending the process.
struct LoggingContext {
  explicit LoggingContext(std::string &Log);
  llvm::LLVMContext Context;
  bool HadError = false;
};

std::unique_ptr<llvm::Module> parseBitcode(const std::string &Bitcode, llvm::LLVMContext &Context,
                                           std::string &Log);
std::string writeBitcode(const llvm::Module &Module);
// Runs the IR verifier; problems go to Log.
bool moduleIsValid(const llvm::Module &Module, std::string &Log);
