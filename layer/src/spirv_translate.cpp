// SPIR-V to LLVM bitcode with the translator library.
#include "llvm_support.h"
#include "program_compiler.h"
#include "spirv_structure.h"

#include <LLVMSPIRVLib/LLVMSPIRVLib.h>

#include <sstream>

static std::string spirvText(const std::vector<char> &Spirv) {
  return std::string(Spirv.data(), Spirv.size());
}

ModuleResult translateSpirv(const std::vector<char> &Spirv,
                            const std::map<cl_uint, uint64_t> &SpecConstants) {
  ModuleResult Result;
  std::string Problem;
  if (!spirvStructureValid(Spirv, Problem)) {
    Result.Log = "error: SPIR-V translation failed: " + Problem + "\n";
    return Result;
  }
  LoggingContext Context(Result.Log);
  SPIRV::TranslatorOpts Options;
  Options.enableAllExtensions();
  Options.setDesiredBIsRepresentation(SPIRV::BIsRepresentation::OpenCL20);
  Options.enableGenArgNameMD();
  for (auto &[Id, Value] : SpecConstants)
    Options.setSpecConst(Id, Value);
  std::istringstream In(spirvText(Spirv));
  llvm::Module *Raw = nullptr;
  std::string Error;
  bool Read = llvm::readSpirv(Context.Context, Options, In, Raw, Error);
  std::unique_ptr<llvm::Module> Module(Raw);
  if (!Read || !Module || Context.HadError) {
    Result.Log += "error: SPIR-V translation failed: " + (Error.empty() ? "unknown" : Error) + "\n";
    return Result;
  }
  if (!moduleIsValid(*Module, Result.Log))
    return Result;
  Result.Bitcode = writeBitcode(*Module);
  Result.Ok = true;
  return Result;
}

bool readSpecConstantSizes(const std::vector<char> &Spirv, std::map<cl_uint, size_t> &Sizes) {
  std::string Problem;
  if (!spirvStructureValid(Spirv, Problem))
    return false;
  std::istringstream In(spirvText(Spirv));
  std::vector<llvm::SpecConstInfoTy> Info;
  if (!llvm::getSpecConstInfo(In, Info))
    return false;
  for (auto &[Id, Size] : Info)
    Sizes[Id] = Size;
  return true;
}
