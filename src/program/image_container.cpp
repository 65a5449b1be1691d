// Reads what a packaged offload image holds: the image count and the auxiliary records from its
// notes, then the bytes of each image from the sections named after the image index.
#include "program/image_container.h"

#include "elf/decimal_text.h"
#include "elf/elf_light.h"
#include "elf/offload_notes.h"
#include "frame/debug.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// Splits an auxiliary record at its NULs into at most four fields; once no NUL is left, the rest
// (possibly empty) is the last field.
std::vector<std::string> splitAuxRecord(const std::string &Record) {
  std::vector<std::string> Fields;
  size_t Pos = 0;
  while (Fields.size() < 4) {
    size_t Nul = Record.find('\0', Pos);
    if (Nul == std::string::npos) {
      Fields.push_back(Record.substr(Pos));
      break;
    }
    Fields.push_back(Record.substr(Pos, Nul - Pos));
    Pos = Nul + 1;
  }
  return Fields;
}

void readAuxRecord(const ElfLNote &Note, ImageContainer &Container, uint64_t &MaxIndex) {
  std::vector<std::string> Fields = splitAuxRecord(noteText(Note));
  if (Fields.size() < 4) {
    DP("Warning: short NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX record is ignored.\n");
    return;
  }
  uint64_t Index = 0, Format = 0;
  if (!readDecimal(Fields[0], Index) || !readDecimal(Fields[1], Format)) {
    DP("Warning: NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX record with a malformed number is ignored.\n");
    return;
  }
  if (Index > MaxIndex)
    MaxIndex = Index;
  if (Container.Aux.count(Index)) {
    DP("Warning: duplicate auxiliary information for image %llu is ignored.\n",
       static_cast<unsigned long long>(Index));
    return;
  }
  ImageAuxInfo &Info = Container.Aux[Index];
  Info.Format = Format;
  Info.CompileOptions = Fields[2];
  Info.LinkOptions = Fields[3];
}

void readNotes(const ElfL &Elf, ImageContainer &Container) {
  uint64_t MaxIndex = 0;
  for (auto It = Elf.sectionNotesBegin(), E = Elf.sectionNotesEnd(); It != E; ++It) {
    ElfLNote Note = *It;
    if (!noteNameIs(Note, OffloadNoteName))
      continue;
    switch (Note.type()) {
    case NT_TARNO_QUVOMP_OFFLOAD_VERSION:
      break; // checked before the container is read
    case NT_TARNO_QUVOMP_OFFLOAD_IMAGE_COUNT: {
      uint64_t Count = 0;
      if (readDecimal(noteText(Note), Count))
        Container.ImageCount = Count;
      else
        DP("Warning: NT_TARNO_QUVOMP_OFFLOAD_IMAGE_COUNT with a malformed number is ignored.\n");
      break;
    }
    case NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX:
      readAuxRecord(Note, Container, MaxIndex);
      break;
    default:
      DP("Warning: unrecognized TARNOQUVOMPOFFLOAD note.\n");
      break;
    }
  }
  // Also true for a count of 0: no index can be valid then.
  if (MaxIndex >= Container.ImageCount)
    DP("Warning: invalid image index found in auxiliary information.\n");
}

void readSections(const ElfL &Elf, ImageContainer &Container) {
  const size_t PrefixLength = std::strlen(ImageSectionPrefix);
  for (auto It = Elf.sectionsBegin(), E = Elf.sectionsEnd(); It != E; ++It) {
    ElfLSection Section = *It;
    const char *Name = Section.name();
    if (std::strncmp(Name, ImageSectionPrefix, PrefixLength) != 0)
      continue;
    uint64_t Index = 0;
    if (!readDecimal(Name + PrefixLength, Index)) {
      DP("Warning: ignoring image section with a malformed index.\n");
      continue;
    }
    if (Index >= Container.ImageCount) {
      DP("Warning: ignoring image section (index %llu is out of range).\n",
         static_cast<unsigned long long>(Index));
      continue;
    }
    auto Found = Container.Aux.find(Index);
    if (Found == Container.Aux.end()) {
      DP("Warning: ignoring image section (no aux info).\n");
      continue;
    }
    // A later section with the same index replaces an earlier one.
    Found->second.Contents = Section.contents();
    Found->second.Size = Section.size();
  }
}

} // namespace

void readImageContainer(const void *Begin, size_t Size, ImageContainer &Container) {
  Container = ImageContainer();
  ElfL Elf(Begin, Size);
  if (!Elf.isValid())
    return;
  readNotes(Elf, Container);
  readSections(Elf, Container);
}
