// Feeds arbitrary bytes to the layer's SPIR-V path, as clCreateProgramWithIL and a build would
// pass them: the validity check, the translator behind it, the rewrite of what it made for the
// driver (program variables placed in a block on the heap here) and the specialisation-constant
// reader. Nothing here may end, hang or corrupt the process.
#include "program_compiler.h"
#include "spirv_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (!looksLikeSpirv(Data, Size))
    return 0; // refused at creation; nothing further runs
  std::vector<uint32_t> Words = spirvWords(Data, Size);
  auto Bytes = reinterpret_cast<const char *>(Words.data());
  std::vector<char> Spirv(Bytes, Bytes + Size);
  ModuleResult Module = translateSpirv(Spirv, {});
  if (!Module.Ok && Module.Log.empty())
    __builtin_trap(); // a failed build always says why
  if (Module.Ok) {
    std::vector<void *> Blocks;
    ExecutableModule Final =
        finalizeModule(Module.Bitcode, false, [&Blocks](size_t Bytes, size_t) {
          Blocks.push_back(std::malloc(Bytes));
          return Blocks.back();
        });
    if (!Final.Ok && Final.Log.empty())
      __builtin_trap();
    for (void *Block : Blocks)
      std::free(Block);
  }
  std::map<cl_uint, size_t> Sizes;
  readSpecConstantSizes(Spirv, Sizes);
  return 0;
}
