// SPIR-V to LLVM bitcode with the translator library, behind the validity check and the cache.
#include "isolated_call.h"
#include "llvm_support.h"
#include "module_cache.h"
#include "program_compiler.h"
#include "spirv_check.h"

#include <LLVMSPIRVLib/LLVMSPIRVLib.h>

#include <cstring>
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

// How long a translation may take in its child before the layer does it itself.
constexpr int TranslationTimeoutSeconds = 120;

// A result as bytes through the child's pipe: the flag, the log's length, the log, the bitcode.
std::string resultText(const ModuleResult &Result) {
  uint64_t LogSize = Result.Log.size();
  std::string Text(1, Result.Ok ? '1' : '0');
  Text.append(reinterpret_cast<const char *>(&LogSize), sizeof(LogSize));
  return Text + Result.Log + Result.Bitcode;
}

bool resultOf(const std::string &Text, ModuleResult &Result) {
  uint64_t LogSize = 0;
  if (Text.size() < 1 + sizeof(LogSize))
    return false;
  std::memcpy(&LogSize, Text.data() + 1, sizeof(LogSize));
  if (LogSize > Text.size() - 1 - sizeof(LogSize))
    return false;
  Result.Ok = Text[0] == '1';
  Result.Log += Text.substr(1 + sizeof(LogSize), LogSize);
  Result.Bitcode = Text.substr(1 + sizeof(LogSize) + LogSize);
  return true;
}

std::string stoppedText(int Signal) {
  return "error: SPIR-V translation failed: the translator stopped" +
         (Signal ? " on signal " + std::to_string(Signal) : std::string()) + "\n";
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
  // The translator runs in a child: an assertion or a crash on a module the checks let through
  // fails this build instead of the process.
  IsolatedResult Child = runIsolated(
      [&] { return resultText(translateReadable(Words, SpecConstants, std::string())); },
      TranslationTimeoutSeconds);
  if (Child.Status == IsolatedResult::Crashed ||
      (Child.Status == IsolatedResult::Done && !resultOf(Child.Output, Result))) {
    Result.Log += stoppedText(Child.Signal);
    return Result;
  }
  if (Child.Status == IsolatedResult::Unavailable)
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
  // The same reader as the translation, so the same child: pairs of a 32-bit id and a 64-bit
  // size, or nothing when the module has no readable list.
  auto Read = [&Words] {
    std::istringstream In(wordText(Words));
    std::vector<llvm::SpecConstInfoTy> Info;
    std::string Text;
    if (!llvm::getSpecConstInfo(In, Info))
      return Text;
    Text.push_back('1');
    for (auto &[Id, Size] : Info) {
      uint32_t Id32 = Id;
      uint64_t Size64 = Size;
      Text.append(reinterpret_cast<const char *>(&Id32), sizeof(Id32));
      Text.append(reinterpret_cast<const char *>(&Size64), sizeof(Size64));
    }
    return Text;
  };
  IsolatedResult Child = runIsolated(Read, TranslationTimeoutSeconds);
  if (Child.Status == IsolatedResult::Crashed)
    return false;
  std::string Text = Child.Status == IsolatedResult::Done ? Child.Output : Read();
  const size_t Pair = sizeof(uint32_t) + sizeof(uint64_t);
  if (Text.empty() || (Text.size() - 1) % Pair != 0)
    return false;
  for (size_t At = 1; At < Text.size(); At += Pair) {
    uint32_t Id = 0;
    uint64_t Size = 0;
    std::memcpy(&Id, Text.data() + At, sizeof(Id));
    std::memcpy(&Size, Text.data() + At + sizeof(Id), sizeof(Size));
    Sizes[Id] = Size;
  }
  return true;
}
