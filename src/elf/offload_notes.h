// The notes of a packaged offload image: their names, their types and how their text is read.
#ifndef ELF_OFFLOAD_NOTES_H
#define ELF_OFFLOAD_NOTES_H

#include "elf/elf_light.h"

#include <cstdint>
#include <cstring>
#include <string>

// Notes that describe the device images of a container.
constexpr const char *OffloadNoteName = "TARNOQUVOMPOFFLOAD";
enum : uint64_t {
  NT_TARNO_QUVOMP_OFFLOAD_VERSION = 1,
  NT_TARNO_QUVOMP_OFFLOAD_IMAGE_COUNT = 2,
  NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX = 3,
};

// Notes the LLVM offload tools write; read only for debug output.
constexpr const char *LLVMOffloadNoteName = "LLVMOMPOFFLOAD";
enum : uint64_t {
  NT_LLVM_OPENMP_OFFLOAD_VERSION = 1,
  NT_LLVM_OPENMP_OFFLOAD_PRODUCER = 2,
  NT_LLVM_OPENMP_OFFLOAD_PRODUCER_VERSION = 3,
};

// The sections holding device images are named with this prefix and the image index.
constexpr const char *ImageSectionPrefix = "__openmp_offload_spirv_";

// Whether the note's name (without its NUL) is Name; a note without a name matches nothing.
inline bool noteNameIs(const ElfLNote &Note, const char *Name) {
  size_t Length = std::strlen(Name);
  return Note.nameSize() != 0 && Note.nameSize() == Length &&
         std::memcmp(Note.name(), Name, Length) == 0;
}

// The descriptor as text (the bytes as they stand; no NUL is required).
inline std::string noteText(const ElfLNote &Note) {
  if (Note.descSize() == 0)
    return std::string();
  return std::string(reinterpret_cast<const char *>(Note.desc()), Note.descSize());
}

#endif
