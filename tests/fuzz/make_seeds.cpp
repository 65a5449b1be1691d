// Writes the fuzzer's seed inputs: packaged images of the four ELF types made by LLVM's YAML
// converter, with notes padded to 4 and to 8 bytes, LLVM notes, note segments, and bare SPIR-V.
#include "elf_test_images.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace elftest;

namespace {

bool write(const std::string &Dir, const std::string &Name, const std::vector<uint8_t> &Bytes) {
  std::string Path = Dir + "/" + Name;
  FILE *F = std::fopen(Path.c_str(), "wb");
  if (!F || Bytes.empty())
    return false;
  bool Ok = std::fwrite(Bytes.data(), 1, Bytes.size(), F) == Bytes.size();
  return std::fclose(F) == 0 && Ok;
}

} // namespace

int main(int Argc, char **Argv) {
  if (Argc != 2) {
    std::fprintf(stderr, "usage: %s <seed directory>\n", Argv[0]);
    return 2;
  }
  std::string Dir = Argv[1];
  bool Ok = true;
  for (const ElfType &T : AllTypes) {
    Image I = emptyImage(T);
    I.Type = "ET_DYN";
    I.Sections = {
        notes(".note.offload", {version("1.0"), count("2"),
                                aux(auxRecord("0", "7", "-g", "")),
                                aux(auxRecord("1", "1", "-cl-fast-relaxed-math", "-lx"))}),
        rawNotes(".note.llvm", {{"LLVMOMPOFFLOAD", 1, "1.0"}, {"LLVMOMPOFFLOAD", 2, "LLVM"}}, 8,
                 T.BigEndian, 8),
        progbits("__openmp_offload_spirv_0", "native"),
        progbits("__openmp_offload_spirv_1", std::string("\x03\x02\x23\x07", 4))};
    I.ProgramHeaders = "  - Type: PT_NOTE\n    FirstSec: .note.offload\n    LastSec: .note.offload\n";
    std::string Name = std::string("container-") + (T.Is64 ? "64" : "32") +
                       (T.BigEndian ? "be" : "le");
    Ok &= write(Dir, Name, build(I));
  }
  Ok &= write(Dir, "spirv", {0x03, 0x02, 0x23, 0x07, 0x00, 0x00, 0x01, 0x00});
  Ok &= write(Dir, "spirv-swapped", {0x07, 0x23, 0x02, 0x03, 0x00, 0x01, 0x00, 0x00});
  if (!Ok)
    std::fprintf(stderr, "could not write the seeds to %s\n", Dir.c_str());
  return Ok ? 0 : 1;
}
