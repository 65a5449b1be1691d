// omptarget-package: wraps device images in the offload container the plugin loads, an ELF file
// whose "TARNOQUVOMPOFFLOAD" notes give the version, the image count and each image's format and
// options, with image I in the section "__openmp_offload_spirv_I". The ELF file is written by
// LLVM's YAML-to-object converter.
//
//   omptarget-package -o OUT [--native] [--format N] [--compile-options TEXT]
//                     [--link-options TEXT] IMAGE...
//
// Options apply to the images named after them; --native marks the following images as native
// device binaries instead of SPIR-V, --format gives them any format number (a test writes
// formats the plugin does not know).
#include "llvm/ObjectYAML/yaml2obj.h"
#include "llvm/Support/YAMLTraits.h"
#include "llvm/Support/raw_ostream.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct PackagedImage {
  std::string Bytes;
  unsigned Format = 1; // 0 native, 1 SPIR-V
  std::string CompileOptions;
  std::string LinkOptions;
};

std::string hexOf(const std::string &Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Text;
  Text.reserve(Bytes.size() * 2);
  for (unsigned char C : Bytes) {
    Text.push_back(Digits[C >> 4]);
    Text.push_back(Digits[C & 15]);
  }
  return Text;
}

void addNote(std::ostringstream &Yaml, unsigned Type, const std::string &Desc) {
  Yaml << "      - Name: TARNOQUVOMPOFFLOAD\n        Type: " << Type << "\n        Desc: '"
       << hexOf(Desc) << "'\n";
}

std::string containerYaml(const std::vector<PackagedImage> &Images) {
  std::ostringstream Yaml;
  Yaml << "--- !ELF\nFileHeader:\n  Class: ELFCLASS64\n  Data: ELFDATA2LSB\n  Type: ET_REL\n"
          "  Machine: EM_NONE\nSections:\n  - Name: .note.offload\n    Type: SHT_NOTE\n"
          "    AddressAlign: 4\n    Notes:\n";
  addNote(Yaml, 1, "1.0");
  addNote(Yaml, 2, std::to_string(Images.size()));
  for (size_t I = 0; I < Images.size(); ++I) {
    const PackagedImage &Image = Images[I];
    std::string Aux = std::to_string(I) + '\0' + std::to_string(Image.Format) + '\0' +
                      Image.CompileOptions + '\0' + Image.LinkOptions;
    addNote(Yaml, 3, Aux);
  }
  for (size_t I = 0; I < Images.size(); ++I)
    Yaml << "  - Name: __openmp_offload_spirv_" << I << "\n    Type: SHT_PROGBITS\n"
         << "    AddressAlign: 8\n    Content: '" << hexOf(Images[I].Bytes) << "'\n";
  return Yaml.str();
}

int usage() {
  std::fprintf(stderr, "usage: omptarget-package -o OUT [--native] [--format N] "
                       "[--compile-options TEXT] [--link-options TEXT] IMAGE...\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  std::string Output;
  std::vector<PackagedImage> Images;
  PackagedImage Next;
  for (int I = 1; I < argc; ++I) {
    std::string Arg = argv[I];
    bool HasValue = I + 1 < argc;
    if (Arg == "-o" && HasValue) {
      Output = argv[++I];
    } else if (Arg == "--native") {
      Next.Format = 0;
    } else if (Arg == "--format" && HasValue) {
      char *End = nullptr;
      const char *Text = argv[++I];
      unsigned long Format = std::strtoul(Text, &End, 10);
      if (End == Text || *End || Format > 0xFFFFFFFFul)
        return usage();
      Next.Format = static_cast<unsigned>(Format);
    } else if (Arg == "--compile-options" && HasValue) {
      Next.CompileOptions = argv[++I];
    } else if (Arg == "--link-options" && HasValue) {
      Next.LinkOptions = argv[++I];
    } else if (!Arg.empty() && Arg[0] != '-') {
      std::ifstream In(Arg, std::ios::binary);
      if (!In) {
        std::fprintf(stderr, "omptarget-package: cannot read %s\n", Arg.c_str());
        return 1;
      }
      Next.Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
      Images.push_back(Next);
    } else {
      return usage();
    }
  }
  if (Output.empty() || Images.empty())
    return usage();

  std::string Yaml = containerYaml(Images);
  std::string Object;
  llvm::raw_string_ostream OS(Object);
  llvm::yaml::Input Input(Yaml);
  bool Converted = llvm::yaml::convertYAML(Input, OS, [](const llvm::Twine &Message) {
    std::fprintf(stderr, "omptarget-package: %s\n", Message.str().c_str());
  });
  OS.flush();
  if (!Converted)
    return 1;
  std::ofstream Out(Output, std::ios::binary);
  Out.write(Object.data(), static_cast<std::streamsize>(Object.size()));
  return Out ? 0 : 1;
}
