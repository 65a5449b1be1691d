// The version note of a packaged offload image: only version 1.0 is understood.
#include "program/image_container.h"

#include "elf/decimal_text.h"
#include "elf/elf_light.h"
#include "elf/offload_notes.h"
#include "frame/debug.h"

#include <cstdint>
#include <string>

namespace {

size_t byteSize(const void *Begin, const void *End) {
  if (!Begin || !End || End < Begin)
    return 0;
  return static_cast<size_t>(static_cast<const char *>(End) - static_cast<const char *>(Begin));
}

} // namespace

bool getImageVersion(const void *Begin, const void *End, uint64_t &Major, uint64_t &Minor) {
  ElfL Elf(Begin, byteSize(Begin, End));
  if (!Elf.isValid()) {
    DP("Warning: unable to get ELF handle: %s!\n", Elf.errorMessage());
    return false;
  }

  for (auto It = Elf.sectionNotesBegin(), E = Elf.sectionNotesEnd(); It != E; ++It) {
    ElfLNote Note = *It;
    if (!noteNameIs(Note, OffloadNoteName) || Note.type() != NT_TARNO_QUVOMP_OFFLOAD_VERSION)
      continue;

    // Only the first version note counts.
    std::string Value = noteText(Note);
    size_t Dot = Value.find('.');
    uint64_t NewMajor = 0, NewMinor = 0;
    // A part without a leading digit (".0", "1.") reads like a value without '.'.
    if (Dot == std::string::npos || !readDecimal(Value.substr(0, Dot), NewMajor) ||
        !readDecimal(Value.substr(Dot + 1), NewMinor)) {
      DP("Invalid NT_TARNO_QUVOMP_OFFLOAD_VERSION: '%s'\n", Value.c_str());
      return false;
    }
    Major = NewMajor;
    Minor = NewMinor;
    return Major == 1 && Minor == 0;
  }
  return false;
}
