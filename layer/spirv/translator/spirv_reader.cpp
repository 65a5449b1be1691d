#include "spirv_reader.h"

#include "llvm_support.h"
#include "spirv_check.h"

#include <LLVMSPIRVLib/LLVMSPIRVLib.h>

#include <sstream>

namespace {

std::string wordText(const std::vector<uint32_t> &Words) {
  return std::string(reinterpret_cast<const char *>(Words.data()), Words.size() * 4);
}

template <typename T> void put(std::string &Text, T Value) {
  Text.append(reinterpret_cast<const char *>(&Value), sizeof(Value));
}

void translate(const std::vector<uint32_t> &Words, const std::map<uint32_t, uint64_t> &Specs,
               TranslatorReply &Reply) {
  LoggingContext Context(Reply.Log);
  SPIRV::TranslatorOpts Options;
  Options.enableAllExtensions();
  Options.setDesiredBIsRepresentation(SPIRV::BIsRepresentation::OpenCL20);
  Options.enableGenArgNameMD();
  for (auto &[Id, Value] : Specs)
    Options.setSpecConst(Id, Value);
  std::istringstream In(wordText(Words));
  llvm::Module *Raw = nullptr;
  std::string Error;
  bool Read = llvm::readSpirv(Context.Context, Options, In, Raw, Error);
  std::unique_ptr<llvm::Module> Module(Raw);
  if (!Read || !Module || Context.HadError) {
    Reply.Log += "error: SPIR-V translation failed: " + (Error.empty() ? "unknown" : Error) + "\n";
    return;
  }
  if (!moduleIsValid(*Module, Reply.Log))
    return;
  Reply.Payload = writeBitcode(*Module);
  Reply.Ok = true;
}

void specConstantSizes(const std::vector<uint32_t> &Words, TranslatorReply &Reply) {
  std::istringstream In(wordText(Words));
  std::vector<llvm::SpecConstInfoTy> Info;
  if (!llvm::getSpecConstInfo(In, Info)) {
    Reply.Log += "error: the module's specialisation constants cannot be read\n";
    return;
  }
  for (auto &[Id, Size] : Info) {
    put(Reply.Payload, static_cast<uint32_t>(Id));
    put(Reply.Payload, static_cast<uint64_t>(Size));
  }
  Reply.Ok = true;
}

// Bitcode an application hands back is read here first: LLVM's reader is not made for
// arbitrary bytes, and the layer reads it again only once it is known to be sound.
void checkBitcode(const std::string &Bitcode, TranslatorReply &Reply) {
  LoggingContext Context(Reply.Log);
  std::unique_ptr<llvm::Module> Module = parseBitcode(Bitcode, Context.Context, Reply.Log);
  Reply.Ok = Module && !Context.HadError && moduleIsValid(*Module, Reply.Log);
}

} // namespace

TranslatorReply serveRequest(const TranslatorRequest &Request) {
  TranslatorReply Reply;
  if (Request.Task == TranslatorTask::CheckBitcode) {
    checkBitcode(Request.Module, Reply);
    return Reply;
  }
  if (Request.Module.size() % 4 != 0 ||
      !looksLikeSpirv(Request.Module.data(), Request.Module.size())) {
    Reply.Log = "error: SPIR-V validation failed: not a SPIR-V module\n";
    return Reply;
  }
  std::vector<uint32_t> Words = spirvWords(Request.Module.data(), Request.Module.size());
  if (!prepareSpirv(Words, Reply.Log))
    return Reply;
  if (Request.Task == TranslatorTask::Translate)
    translate(Words, Request.SpecConstants, Reply);
  else
    specConstantSizes(Words, Reply);
  return Reply;
}
