#include "elf/elf_light.h"

#include "elf/elf_light_impl.h"
#include "frame/debug.h"

#include "llvm/Object/ObjectFile.h"

#include <string>

using namespace llvm;
using namespace llvm::object;

template <class ELFT> ElfLImpl<ELFT>::~ElfLImpl() {
  // Only the last step of a note walk is remembered; a clean step clears an earlier error.
  if (*ErrorCell) {
    std::string Text = toString(std::move(*ErrorCell));
    DP_AS("TARGET ELF light", "Destroying ELF object parsed with errors: %s\n", Text.c_str());
  }
}

template class ElfLImpl<ELF32LE>;
template class ElfLImpl<ELF32BE>;
template class ElfLImpl<ELF64LE>;
template class ElfLImpl<ELF64BE>;

namespace {

template <class ELFT>
ElfLImplBase *makeImpl(std::unique_ptr<MemoryBuffer> &Buffer, std::unique_ptr<ObjectFile> &Object) {
  auto *Typed = dyn_cast<ELFObjectFile<ELFT>>(Object.get());
  if (!Typed)
    return nullptr;
  Object.release();
  return new ElfLImpl<ELFT>(std::move(Buffer), std::unique_ptr<ELFObjectFile<ELFT>>(Typed));
}

} // namespace

ElfL::ElfL(const void *Start, size_t Size) {
  // The library takes the buffer's address apart; a null range is simply not an ELF file.
  if (!Start)
    return;
  std::unique_ptr<MemoryBuffer> Buffer = MemoryBuffer::getMemBuffer(
      StringRef(static_cast<const char *>(Start), Size), "", /*RequiresNullTerminator=*/false);
  Expected<std::unique_ptr<ObjectFile>> Parsed =
      ObjectFile::createELFObjectFile(Buffer->getMemBufferRef());
  if (!Parsed) {
    consumeError(Parsed.takeError());
    return;
  }
  std::unique_ptr<ObjectFile> Object = std::move(*Parsed);
  ElfLImplBase *Created = makeImpl<ELF32LE>(Buffer, Object);
  if (!Created)
    Created = makeImpl<ELF32BE>(Buffer, Object);
  if (!Created)
    Created = makeImpl<ELF64LE>(Buffer, Object);
  if (!Created)
    Created = makeImpl<ELF64BE>(Buffer, Object);
  Impl.reset(Created);
}

ElfL::~ElfL() = default;

uint16_t ElfL::machine() const { return Impl->getMachine(); }
uint16_t ElfL::fileType() const { return Impl->getFileType(); }

ElfLNoteIterator ElfL::sectionNotesBegin() const {
  return ElfLNoteIterator(Impl->createSectionNotesIterator(false));
}
ElfLNoteIterator ElfL::sectionNotesEnd() const {
  return ElfLNoteIterator(Impl->createSectionNotesIterator(true));
}
ElfLNoteIterator ElfL::segmentNotesBegin() const {
  return ElfLNoteIterator(Impl->createSegmentNotesIterator(false));
}
ElfLNoteIterator ElfL::segmentNotesEnd() const {
  return ElfLNoteIterator(Impl->createSegmentNotesIterator(true));
}
ElfLSectionIterator ElfL::sectionsBegin() const {
  return ElfLSectionIterator(Impl->createSectionsIterator(false));
}
ElfLSectionIterator ElfL::sectionsEnd() const {
  return ElfLSectionIterator(Impl->createSectionsIterator(true));
}

ElfLNote::ElfLNote(ElfLNoteImplBase *Impl) : Impl(Impl) {}
ElfLNote::ElfLNote(const ElfLNote &Other) : Impl(Other.Impl->clone()) {}
ElfLNote::~ElfLNote() = default;
uint64_t ElfLNote::nameSize() const { return Impl->getNameSize(); }
const char *ElfLNote::name() const { return Impl->getName(); }
uint64_t ElfLNote::descSize() const { return Impl->getDescSize(); }
const uint8_t *ElfLNote::desc() const { return Impl->getDesc(); }
uint64_t ElfLNote::type() const { return Impl->getType(); }

ElfLNoteIterator::ElfLNoteIterator(ElfLNoteIteratorImplBase *Impl) : Impl(Impl) {}
ElfLNoteIterator::ElfLNoteIterator(const ElfLNoteIterator &Other) : Impl(Other.Impl->clone()) {}
ElfLNoteIterator &ElfLNoteIterator::operator=(const ElfLNoteIterator &Other) {
  if (this != &Other)
    Impl.reset(Other.Impl->clone());
  return *this;
}
ElfLNoteIterator::~ElfLNoteIterator() = default;
bool ElfLNoteIterator::operator==(const ElfLNoteIterator &Other) const {
  return *Impl == *Other.Impl;
}
ElfLNoteIterator &ElfLNoteIterator::operator++() {
  Impl->increment();
  return *this;
}
ElfLNote ElfLNoteIterator::operator*() const { return ElfLNote(Impl->dereference()); }

ElfLSection::ElfLSection(ElfLSectionImplBase *Impl) : Impl(Impl) {}
ElfLSection::ElfLSection(const ElfLSection &Other) : Impl(Other.Impl->clone()) {}
ElfLSection::~ElfLSection() = default;
const char *ElfLSection::name() const { return Impl->getName(); }
uint64_t ElfLSection::size() const { return Impl->getSize(); }
const uint8_t *ElfLSection::contents() const { return Impl->getContents(); }

ElfLSectionIterator::ElfLSectionIterator(ElfLSectionIteratorImplBase *Impl) : Impl(Impl) {}
ElfLSectionIterator::ElfLSectionIterator(const ElfLSectionIterator &Other)
    : Impl(Other.Impl->clone()) {}
ElfLSectionIterator &ElfLSectionIterator::operator=(const ElfLSectionIterator &Other) {
  if (this != &Other)
    Impl.reset(Other.Impl->clone());
  return *this;
}
ElfLSectionIterator::~ElfLSectionIterator() = default;
bool ElfLSectionIterator::operator==(const ElfLSectionIterator &Other) const {
  return *Impl == *Other.Impl;
}
ElfLSectionIterator &ElfLSectionIterator::operator++() {
  Impl->increment();
  return *this;
}
ElfLSection ElfLSectionIterator::operator*() const { return ElfLSection(Impl->dereference()); }
