// SPIR-V to LLVM bitcode: the validator and the translator library run in the layer's helper
// program, never in the host's process; results are cached by their inputs.
#include "isolated_call.h"
#include "module_cache.h"
#include "program_compiler.h"
#include "translator_protocol.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// How long the helper may take for one module before the build fails.
constexpr int kTranslationTimeoutMs = 120 * 1000;

// The helper beside the file this code was loaded from (the layer's library), found once.
const std::string &translatorHelperPath() {
  static const std::string Path = [] {
    Dl_info Info{};
    if (!dladdr(reinterpret_cast<void *>(&translatorHelperPath), &Info) || !Info.dli_fname)
      return std::string();
    char Resolved[PATH_MAX];
    if (!realpath(Info.dli_fname, Resolved))
      return std::string();
    std::string Own = Resolved;
    return Own.substr(0, Own.rfind('/') + 1) + kTranslatorHelperName;
  }();
  return Path;
}

std::string specConstantText(const std::map<cl_uint, uint64_t> &SpecConstants) {
  std::string Text;
  for (auto &[Id, Value] : SpecConstants) {
    Text.append(reinterpret_cast<const char *>(&Id), sizeof(Id));
    Text.append(reinterpret_cast<const char *>(&Value), sizeof(Value));
  }
  return Text;
}

// Runs one request in the helper. A helper that cannot start, stops, hangs or answers garbage
// gives a reply that is not Ok, with a log saying so, and Answered false.
TranslatorReply askHelper(const TranslatorRequest &Request, bool &Answered) {
  TranslatorReply Reply;
  const std::string &Helper = translatorHelperPath();
  IsolatedResult Run = runIsolated({Helper.empty() ? kTranslatorHelperName : Helper},
                                   encodeRequest(Request), kTranslationTimeoutMs);
  Answered = Run.Status == IsolatedResult::Done && decodeReply(Run.Output, Reply);
  if (Answered)
    return Reply;
  Reply = TranslatorReply();
  Reply.Log = "error: SPIR-V translation failed: the translator helper " +
              (Run.Status == IsolatedResult::NotStarted ? std::string("could not run: ")
                                                        : "stopped: ") +
              isolatedFailureText(Run, kTranslationTimeoutMs) + "\n";
  if (!Run.Errors.empty())
    Reply.Log += Run.Errors + (Run.Errors.back() == '\n' ? "" : "\n");
  return Reply;
}

} // namespace

ModuleResult translateSpirv(const std::vector<char> &Spirv,
                            const std::map<cl_uint, uint64_t> &SpecConstants) {
  std::string Specs = specConstantText(SpecConstants);
  ModuleKey Key = moduleKey({"spirv", std::string_view(Spirv.data(), Spirv.size()), Specs});
  if (auto Hit = findCachedModule(Key))
    return {true, Hit->Bitcode, Hit->Log};
  TranslatorRequest Request;
  Request.Task = TranslatorTask::Translate;
  Request.Module.assign(Spirv.data(), Spirv.size());
  for (auto &[Id, Value] : SpecConstants)
    Request.SpecConstants[Id] = Value;
  bool Answered = false;
  TranslatorReply Reply = askHelper(Request, Answered);
  ModuleResult Result{Reply.Ok, std::move(Reply.Payload), std::move(Reply.Log)};
  if (Result.Ok)
    storeCachedModule(Key, {Result.Bitcode, Result.Log});
  return Result;
}

bool readSpecConstantSizes(const std::vector<char> &Spirv, std::map<cl_uint, size_t> &Sizes) {
  // Asked once per module, whatever the answer: a program sets its constants one call at a time.
  ModuleKey Key = moduleKey({"spec-sizes", std::string_view(Spirv.data(), Spirv.size())});
  std::shared_ptr<const CachedModule> Known = findCachedModule(Key);
  std::string Pairs, Answered;
  if (Known) {
    Answered = Known->Log;
    Pairs = Known->Bitcode;
  } else {
    TranslatorRequest Request;
    Request.Task = TranslatorTask::SpecConstantSizes;
    Request.Module.assign(Spirv.data(), Spirv.size());
    bool Complete = false;
    TranslatorReply Reply = askHelper(Request, Complete);
    Answered = Reply.Ok ? "1" : "0";
    Pairs = Reply.Ok ? Reply.Payload : std::string();
    if (Complete) // a helper that could not answer may do so next time
      storeCachedModule(Key, {Pairs, Answered});
  }
  const size_t Pair = sizeof(uint32_t) + sizeof(uint64_t);
  if (Answered != "1" || Pairs.size() % Pair != 0)
    return false;
  for (size_t At = 0; At < Pairs.size(); At += Pair) {
    uint32_t Id = 0;
    uint64_t Size = 0;
    std::memcpy(&Id, Pairs.data() + At, sizeof(Id));
    std::memcpy(&Size, Pairs.data() + At + sizeof(Id), sizeof(Size));
    Sizes[Id] = Size;
  }
  return true;
}

bool bitcodeIsSound(const std::string &Bitcode, std::string &Log) {
  ModuleKey Key = moduleKey({"bitcode-check", Bitcode});
  if (findCachedModule(Key))
    return true;
  TranslatorRequest Request;
  Request.Task = TranslatorTask::CheckBitcode;
  Request.Module = Bitcode;
  bool Answered = false;
  TranslatorReply Reply = askHelper(Request, Answered);
  Log += Reply.Log;
  if (Reply.Ok)
    storeCachedModule(Key, {});
  return Reply.Ok;
}
