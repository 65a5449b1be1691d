// Feeds arbitrary bytes to the layer's SPIR-V path, as clCreateProgramWithIL and a build would
// pass them: the validity check, the translator behind it, the rewrite of what it made for the
// driver (program variables placed in a block on the heap here) and the specialisation-constant
// reader. The layer's own code runs here, under the sanitizers, and may never fail. The system's
// translator library runs in a child: it still crashes on some modules the checks let through,
// and those are counted and reported at the end rather than stopping the run.
#include "program_compiler.h"
#include "spirv_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

size_t TranslatorCrashes = 0;

void reportCrashes() {
  std::fprintf(stderr, "layer_spirv_fuzzer: the translator crashed on %zu checked inputs\n",
               TranslatorCrashes);
}

void writeAll(int Fd, const std::string &Bytes) {
  for (size_t Done = 0; Done < Bytes.size();) {
    ssize_t Wrote = write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (Wrote <= 0)
      return;
    Done += static_cast<size_t>(Wrote);
  }
}

// Translation and the constant reader in a child; the bitcode of a successful translation comes
// back, an empty text otherwise.
std::string translateInChild(const std::vector<char> &Spirv) {
  int Pipe[2];
  if (pipe(Pipe) != 0)
    return std::string();
  pid_t Child = fork();
  if (Child == 0) {
    close(Pipe[0]);
    std::map<cl_uint, size_t> Sizes;
    readSpecConstantSizes(Spirv, Sizes);
    ModuleResult Module = translateSpirv(Spirv, {});
    if (!Module.Ok && Module.Log.empty())
      _exit(3); // a failed build always says why
    writeAll(Pipe[1], Module.Ok ? Module.Bitcode : std::string());
    _exit(0);
  }
  close(Pipe[1]);
  std::string Bitcode;
  char Buffer[65536];
  for (ssize_t Got; (Got = read(Pipe[0], Buffer, sizeof(Buffer))) > 0;)
    Bitcode.append(Buffer, static_cast<size_t>(Got));
  close(Pipe[0]);
  int Status = 0;
  waitpid(Child, &Status, 0);
  if (WIFEXITED(Status) && WEXITSTATUS(Status) == 3)
    __builtin_trap();
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
    if (TranslatorCrashes++ == 0)
      std::atexit(reportCrashes);
    return std::string();
  }
  return Bitcode;
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
  std::string Bitcode = translateInChild(Spirv);
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
