// Feeds arbitrary bytes to the layer's SPIR-V path, as clCreateProgramWithIL and a build would
// pass them: the validity check, the translator behind it, the rewrite of what it made for the
// driver (program variables placed in a block on the heap here) and the specialisation-constant
// reader. The layer's own code runs here, under the sanitizers, and may never fail. The layer runs
// the system's translator library in its helper program (the checks run there once more): it
// still crashes on some modules the checks let
// through, and those builds fail with a log; they are counted and reported at the end.
#include "program_compiler.h"
#include "spirv_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

size_t TranslatorCrashes = 0;

void reportCrashes() {
  std::fprintf(stderr, "layer_spirv_fuzzer: the translator crashed on %zu checked inputs\n",
               TranslatorCrashes);
}

// Translation and the constant reader, as a build runs them: the layer runs the translator in
// its helper program, so a translator crash comes back as a failed build whose log says so. The
// bitcode of a successful translation comes back, an empty text otherwise.
std::string translate(const std::vector<char> &Spirv) {
  std::map<cl_uint, size_t> Sizes;
  readSpecConstantSizes(Spirv, Sizes);
  ModuleResult Module = translateSpirv(Spirv, {});
  if (!Module.Ok && Module.Log.empty())
    __builtin_trap(); // a failed build always says why
  if (Module.Log.find("the translator helper stopped") != std::string::npos &&
      TranslatorCrashes++ == 0)
    std::atexit(reportCrashes);
  return Module.Ok ? Module.Bitcode : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (!looksLikeSpirv(Data, Size))
    return 0; // refused at creation; nothing further runs
  std::vector<uint32_t> Words = spirvWords(Data, Size);
  auto Bytes = reinterpret_cast<const char *>(Words.data());
  std::vector<char> Spirv(Bytes, Bytes + Size);
  std::string Log;
  if (!prepareSpirv(Words, Log)) {
    if (Log.empty())
      __builtin_trap(); // a refusal always says why
    return 0;
  }
  std::string Bitcode = translate(Spirv);
  if (Bitcode.empty())
    return 0;
  std::vector<void *> Blocks;
  ExecutableModule Final = finalizeModule(Bitcode, false, [&Blocks](size_t Bytes, size_t) {
    Blocks.push_back(std::malloc(Bytes));
    return Blocks.back();
  });
  if (!Final.Ok && Final.Log.empty())
    __builtin_trap();
  for (void *Block : Blocks)
    std::free(Block);
  return 0;
}
