// ELF images for the image tests, written by LLVM's YAML-to-object converter from a short
// description: the four ELF types, note sections given as notes or as raw bytes (for note layouts
// the converter does not write, such as 8-byte padding), image sections and program headers.
#ifndef TESTS_UNIT_ELF_TEST_IMAGES_H
#define TESTS_UNIT_ELF_TEST_IMAGES_H

#include "llvm/ObjectYAML/yaml2obj.h"
#include "llvm/Support/YAMLTraits.h"
#include "llvm/Support/raw_ostream.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace elftest {

struct Note {
  std::string Name;
  uint32_t Type = 0;
  std::string Desc; // any bytes, NULs included
};

struct Section {
  std::string Name;
  std::string Type = "SHT_NOTE";
  uint64_t Align = 4;
  std::vector<Note> Notes;    // written by the converter, padded to 4 bytes
  std::string Content;        // raw bytes; used when RawContent is set
  bool RawContent = false;
  std::string Overrides;      // extra YAML keys (ShOffset, ShName, ...), each "Key: Value"
};

struct Image {
  bool Is64 = true;
  bool BigEndian = false;
  std::string Type = "ET_REL";
  std::string Machine = "EM_X86_64";
  std::vector<Section> Sections;
  std::string ProgramHeaders; // YAML list items, indented by two blanks
};

inline std::string hex(const std::string &Bytes) {
  std::string Text;
  char Digits[3];
  for (unsigned char C : Bytes) {
    std::snprintf(Digits, sizeof(Digits), "%02X", C);
    Text += Digits;
  }
  return Text;
}

// Notes laid out as the ELF note format says, with names and descriptors padded to Align.
inline std::string noteBytes(const std::vector<Note> &Notes, size_t Align, bool BigEndian) {
  std::string Out;
  auto Word = [&Out, BigEndian](uint32_t V) {
    for (int I = 0; I < 4; ++I) {
      int Shift = BigEndian ? (3 - I) * 8 : I * 8;
      Out.push_back(static_cast<char>((V >> Shift) & 0xFF));
    }
  };
  auto Pad = [&Out, Align](size_t From) {
    while ((Out.size() - From) % Align)
      Out.push_back('\0');
  };
  for (const Note &N : Notes) {
    size_t Start = Out.size();
    Word(N.Name.empty() ? 0 : static_cast<uint32_t>(N.Name.size() + 1));
    Word(static_cast<uint32_t>(N.Desc.size()));
    Word(N.Type);
    if (!N.Name.empty())
      Out += N.Name + '\0';
    Pad(Start);
    Out += N.Desc;
    Pad(Start);
  }
  return Out;
}

inline std::string yamlOf(const Image &I) {
  std::string Y = "--- !ELF\nFileHeader:\n";
  Y += std::string("  Class: ") + (I.Is64 ? "ELFCLASS64" : "ELFCLASS32") + "\n";
  Y += std::string("  Data: ") + (I.BigEndian ? "ELFDATA2MSB" : "ELFDATA2LSB") + "\n";
  Y += "  Type: " + I.Type + "\n  Machine: " + I.Machine + "\n";
  Y += "Sections:\n";
  if (I.Sections.empty())
    Y += "  []\n";
  for (const Section &S : I.Sections) {
    Y += "  - Name: '" + S.Name + "'\n";
    Y += "    Type: " + S.Type + "\n";
    Y += "    AddressAlign: " + std::to_string(S.Align) + "\n";
    if (S.RawContent) {
      Y += "    Content: '" + hex(S.Content) + "'\n";
    } else if (S.Type == "SHT_NOTE") {
      Y += "    Notes:\n";
      if (S.Notes.empty())
        Y += "      []\n";
      for (const Note &N : S.Notes) {
        Y += "      - Name: '" + N.Name + "'\n";
        Y += "        Type: " + std::to_string(N.Type) + "\n";
        Y += "        Desc: '" + hex(N.Desc) + "'\n";
      }
    }
    if (!S.Overrides.empty())
      Y += "    " + S.Overrides + "\n";
  }
  if (!I.ProgramHeaders.empty())
    Y += "ProgramHeaders:\n" + I.ProgramHeaders;
  return Y;
}

// The object file's bytes; empty (with the converter's complaint on stderr) when the YAML is bad.
inline std::vector<uint8_t> build(const Image &I) {
  std::string Yaml = yamlOf(I);
  std::string Out;
  llvm::raw_string_ostream OS(Out);
  llvm::yaml::Input Input(Yaml);
  bool Ok = llvm::yaml::convertYAML(Input, OS, [](const llvm::Twine &Msg) {
    std::fprintf(stderr, "yaml2obj: %s\n", Msg.str().c_str());
  });
  OS.flush();
  if (!Ok) {
    std::fprintf(stderr, "in:\n%s\n", Yaml.c_str());
    return {};
  }
  return std::vector<uint8_t>(Out.begin(), Out.end());
}

// A note section of converter-written notes.
inline Section notes(const std::string &Name, std::vector<Note> Notes, uint64_t Align = 4) {
  Section S;
  S.Name = Name;
  S.Align = Align;
  S.Notes = std::move(Notes);
  return S;
}

// A note section whose bytes are laid out here (padded to Align).
inline Section rawNotes(const std::string &Name, const std::vector<Note> &Notes, size_t Align,
                        bool BigEndian, uint64_t AddrAlign) {
  Section S;
  S.Name = Name;
  S.Align = AddrAlign;
  S.Content = noteBytes(Notes, Align, BigEndian);
  S.RawContent = true;
  return S;
}

inline Section progbits(const std::string &Name, const std::string &Content) {
  Section S;
  S.Name = Name;
  S.Type = "SHT_PROGBITS";
  S.Align = 1;
  S.Content = Content;
  S.RawContent = true;
  return S;
}

// Offload notes.
inline Note version(const std::string &Value) { return {"TARNOQUVOMPOFFLOAD", 1, Value}; }
inline Note count(const std::string &Value) { return {"TARNOQUVOMPOFFLOAD", 2, Value}; }
inline Note aux(const std::string &Record) { return {"TARNOQUVOMPOFFLOAD", 3, Record}; }
inline std::string auxRecord(const std::string &Index, const std::string &Format,
                             const std::string &Compile, const std::string &Link) {
  return Index + '\0' + Format + '\0' + Compile + '\0' + Link;
}

struct ElfType {
  const char *Title;
  bool Is64;
  bool BigEndian;
};
constexpr ElfType AllTypes[] = {
    {"32-bit little-endian", false, false},
    {"32-bit big-endian", false, true},
    {"64-bit little-endian", true, false},
    {"64-bit big-endian", true, true},
};

// An image of the given type with no sections yet.
inline Image emptyImage(const ElfType &T) {
  Image I;
  I.Is64 = T.Is64;
  I.BigEndian = T.BigEndian;
  return I;
}

} // namespace elftest

#endif
