// SPIR-V to LLVM bitcode with the translator library, behind the validity check and the cache.
#include "llvm_support.h"
#include "module_cache.h"
#include "program_compiler.h"
#include "spirv_check.h"

#include <LLVMSPIRVLib/LLVMSPIRVLib.h>

#include <sstream>

namespace {

std::string wordText(const std::vector<uint32_t> &Words) {
  return std::string(reinterpret_cast<const char *>(Words.data()), Words.size() * 4);
}

std::string specConstantText(const std::map<cl_uint, uint64_t> &SpecConstants) {
  std::string Text;
  for (auto &[Id, Value] : SpecConstants) {
    Text.append(reinterpret_cast<const char *>(&Id), sizeof(Id));
    Text.append(reinterpret_cast<const char *>(&Value), sizeof(Value));
  }
  return Text;
}

ModuleResult translateReadable(const std::vector<uint32_t> &Words,
                               const std::map<cl_uint, uint64_t> &SpecConstants,
                               std::string Log) {
  ModuleResult Result;
  Result.Log = std::move(Log);
  LoggingContext Context(Result.Log);
  SPIRV::TranslatorOpts Options;
  Options.enableAllExtensions();
  Options.setDesiredBIsRepresentation(SPIRV::BIsRepresentation::OpenCL20);
  Options.enableGenArgNameMD();
  for (auto &[Id, Value] : SpecConstants)
    Options.setSpecConst(Id, Value);
  std::istringstream In(wordText(Words));
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

} // namespace

ModuleResult translateSpirv(const std::vector<char> &Spirv,
                            const std::map<cl_uint, uint64_t> &SpecConstants) {
  std::string Specs = specConstantText(SpecConstants);
  ModuleKey Key = moduleKey({"spirv", std::string_view(Spirv.data(), Spirv.size()), Specs});
  if (auto Hit = findCachedModule(Key))
    return {true, Hit->Bitcode, Hit->Log};
  ModuleResult Result;
  std::vector<uint32_t> Words = spirvWords(Spirv.data(), Spirv.size());
  if (!prepareSpirv(Words, Result.Log))
    return Result;
  Result = translateReadable(Words, SpecConstants, std::move(Result.Log));
  if (Result.Ok)
    storeCachedModule(Key, {Result.Bitcode, Result.Log});
  return Result;
}

bool readSpecConstantSizes(const std::vector<char> &Spirv, std::map<cl_uint, size_t> &Sizes) {
  std::vector<uint32_t> Words = spirvWords(Spirv.data(), Spirv.size());
  std::string Log;
  if (!prepareSpirv(Words, Log))
    return false;
  std::istringstream In(wordText(Words));
  std::vector<llvm::SpecConstInfoTy> Info;
  if (!llvm::getSpecConstInfo(In, Info))
    return false;
  for (auto &[Id, Size] : Info)
    Sizes[Id] = Size;
  return true;
}
