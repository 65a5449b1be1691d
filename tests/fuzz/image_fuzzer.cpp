// Feeds arbitrary bytes to image recognition and to the container walk, as the host runtime and
// the program loader would pass them. Every pointer the walk hands back is read in full, so that
// the address sanitizer sees any that points outside the input.
#include "elf/elf_light.h"
#include "omptargetplugin.h"
#include "program/image_container.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

volatile uint8_t Sink;

void touch(const void *Bytes, uint64_t Size) {
  const uint8_t *P = static_cast<const uint8_t *>(Bytes);
  uint8_t Sum = 0;
  for (uint64_t I = 0; I < Size; ++I)
    Sum ^= P[I];
  Sink = Sum;
}

void walkReader(const uint8_t *Data, size_t Size) {
  ElfL Elf(Data, Size);
  if (!Elf.isValid())
    return;
  for (bool Segments : {false, true}) {
    auto It = Segments ? Elf.segmentNotesBegin() : Elf.sectionNotesBegin();
    auto End = Segments ? Elf.segmentNotesEnd() : Elf.sectionNotesEnd();
    for (; It != End; ++It) {
      ElfLNote Note = *It;
      touch(Note.name(), Note.nameSize());
      touch(Note.desc(), Note.descSize());
    }
  }
  for (auto It = Elf.sectionsBegin(), End = Elf.sectionsEnd(); It != End; ++It) {
    ElfLSection Section = *It;
    touch(Section.name(), std::strlen(Section.name()));
    touch(Section.contents(), Section.size());
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // libFuzzer's buffer has exactly Size bytes; the host runtime passes the same kind of range.
  uint8_t *Begin = const_cast<uint8_t *>(Data);
  DeviceImage Image{Begin, Begin + Size, nullptr, nullptr};
  __tgt_rtl_is_valid_binary(&Image);
  elf_check_machine(&Image, 62);
  elf_is_dynamic(&Image);

  uint64_t Major = 0, Minor = 0;
  getImageVersion(Data, Data + Size, Major, Minor);
  ImageContainer Container;
  readImageContainer(Data, Size, Container);
  for (const auto &Entry : Container.Aux)
    touch(Entry.second.Contents, Entry.second.Contents ? Entry.second.Size : 0);

  walkReader(Data, Size);
  return 0;
}
