// Feeds arbitrary bytes to the layer's SPIR-V path, as clCreateProgramWithIL and a build would
// pass them: the validity check, the translator behind it and the specialisation-constant reader.
// Nothing here may end, hang or corrupt the process.
#include "program_compiler.h"
#include "spirv_check.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (!looksLikeSpirv(Data, Size))
    return 0; // refused at creation; nothing further runs
  std::vector<uint32_t> Words = spirvWords(Data, Size);
  auto Bytes = reinterpret_cast<const char *>(Words.data());
  std::vector<char> Spirv(Bytes, Bytes + Size);
  ModuleResult Module = translateSpirv(Spirv, {});
  if (!Module.Ok && Module.Log.empty())
    __builtin_trap(); // a failed build always says why
  std::map<cl_uint, size_t> Sizes;
  readSpecConstantSizes(Spirv, Sizes);
  return 0;
}
