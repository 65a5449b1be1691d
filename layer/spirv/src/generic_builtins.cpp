#include "generic_builtins.h"

#include <llvm/IR/IRBuilder.h>
#include <llvm/IR/Instructions.h>
#include <llvm/IRReader/IRReader.h>
#include <llvm/Support/SourceMgr.h>

#include <set>
#include <utility>
#include <sys/stat.h>

using namespace llvm;

namespace {

constexpr const char *kGeneric = "PU3AS4";
constexpr const char *kGlobal = "PU3AS1";
constexpr const char *kLibraryDirectory = "/usr/share/pocl";

bool fileExists(const std::string &Path) {
  struct stat Info;
  return stat(Path.c_str(), &Info) == 0 && S_ISREG(Info.st_mode);
}

// The CPU driver builds kernels against the variant of its builtin library for the best feature
// level the host processor has; the same choice here, in a fixed order, so that every process
// reads the same file (the environment plays no part).
std::string builtinLibraryPath() {
  __builtin_cpu_init();
  const std::pair<const char *, bool> Variants[] = {
      {"avx512", __builtin_cpu_supports("avx512f") != 0},
      {"avx2", __builtin_cpu_supports("avx2") != 0},
      {"avx", __builtin_cpu_supports("avx") != 0},
      {"sse41", __builtin_cpu_supports("sse4.1") != 0},
      {"ssse3", __builtin_cpu_supports("ssse3") != 0},
      {"sse2", __builtin_cpu_supports("sse2") != 0},
      {"GENERIC", true},
  };
  for (auto &[Level, Usable] : Variants) {
    std::string Path =
        std::string(kLibraryDirectory) + "/kernel-x86_64-pc-linux-gnu-" + Level + ".bc";
    if (Usable && fileExists(Path))
      return Path;
  }
  return std::string();
}

// Names of the functions the library defines, read once (lazily: no bodies are loaded).
const std::set<std::string> &libraryFunctions() {
  // Never destroyed, like the rest of the layer's state: drivers may call in at exit.
  static const auto *Names = new std::set<std::string>([] {
    std::set<std::string> Defined;
    std::string Path = builtinLibraryPath();
    if (Path.empty())
      return Defined;
    LLVMContext Context; // the library is written with opaque pointers
    SMDiagnostic Error;
    std::unique_ptr<Module> Library = getLazyIRFileModule(Path, Error, Context);
    if (!Library)
      return Defined;
    for (const Function &F : *Library)
      if (!F.isDeclaration())
        Defined.insert(F.getName().str());
    return Defined;
  }());
  return *Names;
}

std::string globalOverloadName(StringRef Name) {
  std::string Result = Name.str();
  for (size_t Pos = Result.find(kGeneric); Pos != std::string::npos;
       Pos = Result.find(kGeneric, Pos))
    Result.replace(Pos, 6, kGlobal);
  return Result;
}

Type *toGlobalPointer(Type *Ty) {
  auto *Pointer = dyn_cast<PointerType>(Ty);
  if (Pointer && Pointer->getAddressSpace() == 4)
    return PointerType::getWithSamePointeeType(Pointer, 1);
  return Ty;
}

void redirectCalls(Function &Generic, Function &Global) {
  SmallVector<CallInst *, 8> Calls;
  for (User *U : Generic.users())
    if (auto *Call = dyn_cast<CallInst>(U); Call && Call->getCalledFunction() == &Generic)
      Calls.push_back(Call);
  for (CallInst *Call : Calls) {
    IRBuilder<> Builder(Call);
    SmallVector<Value *, 8> Args;
    for (unsigned I = 0; I < Call->arg_size(); ++I) {
      Value *Arg = Call->getArgOperand(I);
      Type *Wanted = Global.getFunctionType()->getParamType(I);
      Args.push_back(Arg->getType() == Wanted ? Arg
                                              : Builder.CreateAddrSpaceCast(Arg, Wanted));
    }
    CallInst *Replacement = Builder.CreateCall(&Global, Args);
    Replacement->setCallingConv(Call->getCallingConv());
    Value *Result = Replacement;
    if (!Call->getType()->isVoidTy() && Call->getType() != Replacement->getType())
      Result = Builder.CreateAddrSpaceCast(Replacement, Call->getType());
    if (!Call->getType()->isVoidTy())
      Call->replaceAllUsesWith(Result);
    Call->eraseFromParent();
  }
}

} // namespace

unsigned redirectGenericBuiltins(Module &M, std::string &Log) {
  std::vector<Function *> Candidates;
  for (Function &F : M)
    if (F.isDeclaration() && F.getName().contains(kGeneric))
      Candidates.push_back(&F);
  if (Candidates.empty())
    return 0;
  const std::set<std::string> &Library = libraryFunctions();
  if (Library.empty()) {
    Log += "warning: no device builtin library found; generic-pointer builtins are kept\n";
    return 0;
  }
  unsigned Redirected = 0;
  for (Function *Generic : Candidates) {
    if (Library.count(Generic->getName().str()))
      continue;
    std::string Name = globalOverloadName(Generic->getName());
    if (!Library.count(Name))
      continue;
    FunctionType *Old = Generic->getFunctionType();
    SmallVector<Type *, 8> Params;
    for (Type *Param : Old->params())
      Params.push_back(toGlobalPointer(Param));
    FunctionType *New = FunctionType::get(toGlobalPointer(Old->getReturnType()), Params,
                                          Old->isVarArg());
    FunctionCallee Callee = M.getOrInsertFunction(Name, New, Generic->getAttributes());
    auto *Global = dyn_cast<Function>(Callee.getCallee());
    if (!Global)
      continue;
    Global->setCallingConv(Generic->getCallingConv());
    redirectCalls(*Generic, *Global);
    if (Generic->use_empty())
      Generic->eraseFromParent();
    ++Redirected;
  }
  return Redirected;
}
