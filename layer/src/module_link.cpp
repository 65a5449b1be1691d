// Linking compiled modules into one with LLVM's linker.
#include "llvm_support.h"
#include "program_compiler.h"

#include <llvm/Linker/Linker.h>

ModuleResult linkModules(const std::vector<std::string> &Bitcodes) {
  ModuleResult Result;
  if (Bitcodes.empty()) {
    Result.Log = "error: nothing to link\n";
    return Result;
  }
  LoggingContext Context(Result.Log);
  std::unique_ptr<llvm::Module> Linked = parseBitcode(Bitcodes[0], Context.Context, Result.Log);
  if (!Linked)
    return Result;
  llvm::Linker Linker(*Linked);
  for (size_t I = 1; I < Bitcodes.size(); ++I) {
    std::unique_ptr<llvm::Module> Input = parseBitcode(Bitcodes[I], Context.Context, Result.Log);
    if (!Input)
      return Result;
    // linkInModule reports clashes through the context's handler and returns true on error.
    if (Linker.linkInModule(std::move(Input)) || Context.HadError) {
      Result.Log += "error: linking failed\n";
      return Result;
    }
  }
  if (!moduleIsValid(*Linked, Result.Log))
    return Result;
  Result.Bitcode = writeBitcode(*Linked);
  Result.Ok = true;
  return Result;
}
