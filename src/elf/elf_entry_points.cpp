// Image recognition for the host runtime: whether the plugin can load an image, and two questions
// about ELF images (their machine and whether they are shared objects).
#include "elf/elf_note_cursor.h"
#include "elf/offload_notes.h"
#include "frame/debug.h"
#include "omptargetplugin.h"
#include "program/image_container.h"

#include "llvm/BinaryFormat/Magic.h"
#include "llvm/Object/ELFObjectFile.h"
#include "llvm/Object/ObjectFile.h"

#include <cstring>
#include <memory>
#include <string>

using namespace llvm;
using namespace llvm::object;

namespace {

constexpr const char *ElfPrefix = "TARGET ELF Common";

// The image's bytes; empty for a missing image or a reversed range.
StringRef imageBytes(const DeviceImage *Image) {
  if (!Image || !Image->BytesBegin || !Image->BytesEnd || Image->BytesEnd < Image->BytesBegin)
    return StringRef();
  const char *Begin = static_cast<const char *>(Image->BytesBegin);
  return StringRef(Begin, static_cast<const char *>(Image->BytesEnd) - Begin);
}

bool isElfKind(file_magic Kind) {
  switch (Kind) {
  case file_magic::elf:
  case file_magic::elf_relocatable:
  case file_magic::elf_executable:
  case file_magic::elf_shared_object:
  case file_magic::elf_core:
    return true;
  default:
    return false;
  }
}

// Classifies and parses the bytes, with a message for each way that fails; null then.
std::unique_ptr<ObjectFile> openElf(StringRef Bytes) {
  if (!isElfKind(identify_magic(Bytes))) {
    DP_AS(ElfPrefix, "Not an ELF image!\n");
    return nullptr;
  }
  Expected<std::unique_ptr<ObjectFile>> Parsed =
      ObjectFile::createELFObjectFile(MemoryBufferRef(Bytes, ""));
  if (!Parsed) {
    std::string Text = toString(Parsed.takeError());
    DP_AS(ElfPrefix, "Unable to get ELF handle: %s!\n", Text.c_str());
    return nullptr;
  }
  ObjectFile *Object = Parsed->get();
  if (!isa<ELF32LEObjectFile>(Object) && !isa<ELF32BEObjectFile>(Object) &&
      !isa<ELF64LEObjectFile>(Object) && !isa<ELF64BEObjectFile>(Object)) {
    DP_AS(ElfPrefix, "Unknown ELF format!\n");
    return nullptr;
  }
  return std::move(*Parsed);
}

// Calls Fn with the ELF file of the object's type.
template <class Fn> void visitElf(const ObjectFile &Object, Fn &&F) {
  if (const auto *O = dyn_cast<ELF32LEObjectFile>(&Object))
    F(O->getELFFile());
  else if (const auto *O = dyn_cast<ELF32BEObjectFile>(&Object))
    F(O->getELFFile());
  else if (const auto *O = dyn_cast<ELF64LEObjectFile>(&Object))
    F(O->getELFFile());
  else if (const auto *O = dyn_cast<ELF64BEObjectFile>(&Object))
    F(O->getELFFile());
}

struct ElfHeaderFields {
  uint16_t Machine = 0;
  uint16_t Type = 0;
};

ElfHeaderFields headerFields(const ObjectFile &Object) {
  ElfHeaderFields Fields;
  visitElf(Object, [&Fields](const auto &File) {
    Fields.Machine = File.getHeader().e_machine;
    Fields.Type = File.getHeader().e_type;
  });
  return Fields;
}

const char *llvmNoteTypeName(uint64_t Type) {
  switch (Type) {
  case NT_LLVM_OPENMP_OFFLOAD_VERSION:
    return "NT_LLVM_OPENMP_OFFLOAD_VERSION";
  case NT_LLVM_OPENMP_OFFLOAD_PRODUCER:
    return "NT_LLVM_OPENMP_OFFLOAD_PRODUCER";
  case NT_LLVM_OPENMP_OFFLOAD_PRODUCER_VERSION:
    return "NT_LLVM_OPENMP_OFFLOAD_PRODUCER_VERSION";
  default:
    return nullptr;
  }
}

template <class ELFT> void reportLLVMNotes(const ELFFile<ELFT> &File) {
  auto Sections = File.sections();
  if (!Sections) {
    consumeError(Sections.takeError());
    return;
  }
  Error Slot = Error::success();
  for (const typename ELFT::Shdr &Section : *Sections) {
    if (Section.sh_type != ELF::SHT_NOTE)
      continue;
    // An error ends the section's notes; nothing is reported about it.
    elfl::NoteCursor<ELFT> Cursor;
    elfl::startNotes(File, Section.sh_offset, Section.sh_size, Section.sh_addralign, Cursor, Slot);
    for (; Cursor.Current; Cursor.step()) {
      Elf_Note_Impl<ELFT> Note(*Cursor.Current);
      if (Note.getName() != LLVMOffloadNoteName)
        continue;
      uint64_t Type = Note.getType();
      if (const char *TypeName = llvmNoteTypeName(Type)) {
        std::string Value;
        if (Cursor.Current->n_descsz)
          Value.assign(reinterpret_cast<const char *>(Cursor.Current) +
                           elfl::NoteCursor<ELFT>::descOffset(*Cursor.Current, Cursor.Align),
                       Cursor.Current->n_descsz);
        DP_AS(ElfPrefix, "LLVMOMPOFFLOAD ELF note %s with value: '%s'\n", TypeName, Value.c_str());
      } else {
        DP_AS(ElfPrefix, "LLVMOMPOFFLOAD ELF note with unknown type %llu.\n",
              static_cast<unsigned long long>(Type));
      }
    }
  }
  consumeError(std::move(Slot));
}

} // namespace

int32_t __tgt_rtl_is_valid_binary(DeviceImage *Image) {
  StringRef Bytes = imageBytes(Image);
  uint64_t Major = 0, Minor = 0;
  if (getImageVersion(Bytes.begin(), Bytes.end(), Major, Minor)) {
    DP("Target binary is a valid Quvela OpenMP image.\n");
    return 1;
  }
  DP("Target binary is *not* a valid Quvela OpenMP image.\n");

  // Bare SPIR-V, in either byte order. Shorter images cannot hold the magic number.
  bool Valid = false;
  if (Bytes.size() >= sizeof(uint32_t)) {
    uint32_t Magic = 0;
    std::memcpy(&Magic, Bytes.data(), sizeof(Magic));
    Valid = Magic == 0x07230203 || Magic == 0x03022307;
  }
  DP("Target binary is %s\n", Valid ? "VALID" : "INVALID");
  return Valid ? 1 : 0;
}

int32_t elf_check_machine(DeviceImage *Image, uint16_t Machine) {
  StringRef Bytes = imageBytes(Image);
  if (readDebugLevel()) {
    if (std::unique_ptr<ObjectFile> Object = openElf(Bytes))
      visitElf(*Object, [](const auto &File) { reportLLVMNotes(File); });
  }
  std::unique_ptr<ObjectFile> Object = openElf(Bytes);
  if (!Object)
    return 0;
  return headerFields(*Object).Machine == Machine ? 1 : 0;
}

int32_t elf_is_dynamic(DeviceImage *Image) {
  std::unique_ptr<ObjectFile> Object = openElf(imageBytes(Image));
  if (!Object)
    return 0;
  uint16_t Type = headerFields(*Object).Type;
  DP_AS(ElfPrefix, "ELF Type: %d\n", static_cast<int>(Type));
  return Type == ELF::ET_DYN ? 1 : 0;
}
