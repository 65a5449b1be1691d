// Linking compiled modules into one with LLVM's linker. Modules that only offer functions (no
// kernels, no program-scope variables), such as device libraries, give only what is used.
#include "llvm_support.h"
#include "module_cache.h"
#include "program_compiler.h"

#include <llvm/IR/CallingConv.h>
#include <llvm/Linker/Linker.h>

#include <set>

namespace {

bool functionLibrary(const llvm::Module &M) {
  for (const llvm::Function &F : M)
    if (!F.isDeclaration() && F.getCallingConv() == llvm::CallingConv::SPIR_KERNEL)
      return false;
  for (const llvm::GlobalVariable &G : M.globals())
    if (!G.isDeclaration() && !G.hasLocalLinkage())
      return false;
  return true;
}

// Names a module defines for others to use, where a second definition is an error.
std::vector<std::string> strongDefinitions(const llvm::Module &M) {
  std::vector<std::string> Names;
  for (const llvm::Function &F : M)
    if (!F.isDeclaration() && F.hasExternalLinkage())
      Names.push_back(F.getName().str());
  return Names;
}

size_t definedFunctions(const llvm::Module &M) {
  size_t Count = 0;
  for (const llvm::Function &F : M)
    Count += !F.isDeclaration();
  return Count;
}

ModuleResult linkUncached(const std::vector<std::string> &Bitcodes) {
  ModuleResult Result;
  LoggingContext Context(Result.Log);
  std::unique_ptr<llvm::Module> Linked;
  std::vector<size_t> Libraries;
  // Linking only what is needed would hide a clash: libraries are checked for them first.
  std::set<std::string> LibraryNames;
  for (size_t I = 0; I < Bitcodes.size(); ++I) {
    std::unique_ptr<llvm::Module> Input = parseBitcode(Bitcodes[I], Context.Context, Result.Log);
    if (!Input)
      return Result;
    if (functionLibrary(*Input)) {
      for (std::string &Name : strongDefinitions(*Input))
        if (!LibraryNames.insert(Name).second)
          return Result.Log += "error: linking failed: '" + Name + "' is defined twice\n", Result;
      Libraries.push_back(I);
      continue;
    }
    // linkModules reports clashes through the context's handler and returns true on error.
    if (!Linked)
      Linked = std::move(Input);
    else if (llvm::Linker::linkModules(*Linked, std::move(Input)) || Context.HadError)
      return Result.Log += "error: linking failed\n", Result;
  }
  for (const std::string &Name : LibraryNames)
    if (Linked && Linked->getFunction(Name) && !Linked->getFunction(Name)->isDeclaration())
      return Result.Log += "error: linking failed: '" + Name + "' is defined twice\n", Result;
  if (!Linked) { // libraries only: the first one is the base
    Linked = parseBitcode(Bitcodes[Libraries.front()], Context.Context, Result.Log);
    Libraries.erase(Libraries.begin());
    if (!Linked)
      return Result;
  }
  // A library function may need one from a library already passed over: repeat until the
  // module stops growing.
  for (size_t Before = 0; Before != definedFunctions(*Linked);) {
    Before = definedFunctions(*Linked);
    for (size_t I : Libraries) {
      std::unique_ptr<llvm::Module> Input =
          parseBitcode(Bitcodes[I], Context.Context, Result.Log);
      if (!Input || llvm::Linker::linkModules(*Linked, std::move(Input),
                                              llvm::Linker::LinkOnlyNeeded) ||
          Context.HadError)
        return Result.Log += "error: linking failed\n", Result;
    }
  }
  if (!moduleIsValid(*Linked, Result.Log))
    return Result;
  Result.Bitcode = writeBitcode(*Linked);
  Result.Ok = true;
  return Result;
}

} // namespace

ModuleResult linkModules(const std::vector<std::string> &Bitcodes) {
  if (Bitcodes.empty())
    return {false, {}, "error: nothing to link\n"};
  std::vector<std::string_view> Inputs = {"link"};
  Inputs.insert(Inputs.end(), Bitcodes.begin(), Bitcodes.end());
  ModuleKey Key = moduleKey(Inputs);
  if (auto Hit = findCachedModule(Key))
    return {true, Hit->Bitcode, Hit->Log};
  ModuleResult Result = linkUncached(Bitcodes);
  if (Result.Ok)
    storeCachedModule(Key, {Result.Bitcode, Result.Log});
  return Result;
}
