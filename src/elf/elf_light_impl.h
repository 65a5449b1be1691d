// The implementations behind the ElfL facades: one abstract base per facade and a template over
// the four ELF types (32/64-bit, little/big-endian) on top of LLVM's ELF object file.
#ifndef ELF_ELF_LIGHT_IMPL_H
#define ELF_ELF_LIGHT_IMPL_H

#include "elf/elf_light.h"
#include "elf/elf_note_cursor.h"

#include "llvm/ADT/ArrayRef.h"
#include "llvm/BinaryFormat/ELF.h"
#include "llvm/Object/ELFObjectFile.h"
#include "llvm/Support/MemoryBuffer.h"

#include <memory>

class ElfLNoteImplBase {
public:
  virtual ~ElfLNoteImplBase() = default;
  virtual ElfLNoteImplBase *clone() const = 0;
  virtual uint64_t getNameSize() const = 0;
  virtual const char *getName() const = 0;
  virtual uint64_t getDescSize() const = 0;
  virtual const uint8_t *getDesc() const = 0;
  virtual uint64_t getType() const = 0;
};

class ElfLNoteIteratorImplBase {
public:
  virtual ~ElfLNoteIteratorImplBase() = default;
  virtual ElfLNoteIteratorImplBase *clone() const = 0;
  virtual void increment() = 0;
  virtual bool operator==(const ElfLNoteIteratorImplBase &Other) const = 0;
  virtual ElfLNoteImplBase *dereference() const = 0;
};

class ElfLSectionImplBase {
public:
  virtual ~ElfLSectionImplBase() = default;
  virtual ElfLSectionImplBase *clone() const = 0;
  virtual const char *getName() const = 0;
  virtual uint64_t getSize() const = 0;
  virtual const uint8_t *getContents() const = 0;
};

class ElfLSectionIteratorImplBase {
public:
  virtual ~ElfLSectionIteratorImplBase() = default;
  virtual ElfLSectionIteratorImplBase *clone() const = 0;
  virtual void increment() = 0;
  virtual bool operator==(const ElfLSectionIteratorImplBase &Other) const = 0;
  virtual ElfLSectionImplBase *dereference() const = 0;
};

class ElfLImplBase {
public:
  virtual ~ElfLImplBase() = default;
  virtual uint16_t getMachine() const = 0;
  virtual uint16_t getFileType() const = 0;
  // End selects the end iterator.
  virtual ElfLNoteIteratorImplBase *createSectionNotesIterator(bool End) const = 0;
  virtual ElfLNoteIteratorImplBase *createSegmentNotesIterator(bool End) const = 0;
  virtual ElfLSectionIteratorImplBase *createSectionsIterator(bool End) const = 0;
};

namespace elfl {

template <class ELFT> constexpr uint32_t endianTag() {
  return ELFT::TargetEndianness == llvm::support::little ? 1 : 0;
}

// The table of sections or of program headers; empty when it cannot be read.
template <class ELFT>
llvm::ArrayRef<typename ELFT::Shdr> readSections(const llvm::object::ELFFile<ELFT> &File) {
  auto Sections = File.sections();
  if (!Sections) {
    llvm::consumeError(Sections.takeError());
    return {};
  }
  return *Sections;
}

template <class ELFT>
llvm::ArrayRef<typename ELFT::Phdr> readProgramHeaders(const llvm::object::ELFFile<ELFT> &File) {
  auto Headers = File.program_headers();
  if (!Headers) {
    llvm::consumeError(Headers.takeError());
    return {};
  }
  return *Headers;
}

} // namespace elfl

template <class ELFT> class ElfLNoteImpl : public ElfLNoteImplBase {
  using Nhdr = typename ELFT::Nhdr;
  const Nhdr *Header; // null for the end of a walk: everything reads as empty
  size_t Align;

public:
  ElfLNoteImpl(const Nhdr *Header, size_t Align) : Header(Header), Align(Align) {}
  ElfLNoteImplBase *clone() const override { return new ElfLNoteImpl(*this); }
  uint64_t getNameSize() const override {
    return Header && Header->n_namesz ? Header->n_namesz - 1 : 0;
  }
  const char *getName() const override {
    if (!Header || !Header->n_namesz)
      return nullptr;
    return llvm::object::Elf_Note_Impl<ELFT>(*Header).getName().data();
  }
  uint64_t getDescSize() const override { return Header ? Header->n_descsz : 0; }
  const uint8_t *getDesc() const override {
    if (!Header || !Header->n_descsz)
      return nullptr;
    return reinterpret_cast<const uint8_t *>(Header) +
           elfl::NoteCursor<ELFT>::descOffset(*Header, Align);
  }
  uint64_t getType() const override { return Header ? Header->n_type : 0; }
};

// What section notes and segment notes share: the tags, the file and the note cursor. The
// current header (section or program header) belongs to the derived class.
template <class ELFT> class ElfLNoteIteratorImpl : public ElfLNoteIteratorImplBase {
protected:
  uint32_t EndianTag = elfl::endianTag<ELFT>();
  uint8_t Is64Bit = ELFT::Is64Bits ? 1 : 0;
  uint8_t IsSectionNotes;
  const llvm::object::ELFFile<ELFT> &File;
  elfl::NoteCursor<ELFT> Cursor;

  ElfLNoteIteratorImpl(bool SectionNotes, const llvm::object::ELFFile<ELFT> &File,
                       llvm::Error &ErrorCell)
      : IsSectionNotes(SectionNotes ? 1 : 0), File(File) {
    Cursor.Err = &ErrorCell;
  }

  virtual const void *currentHeader() const = 0;
  virtual bool pastEnd() const = 0;

public:
  bool operator==(const ElfLNoteIteratorImplBase &OtherBase) const override {
    const auto *Other = dynamic_cast<const ElfLNoteIteratorImpl *>(&OtherBase);
    if (!Other || Other->EndianTag != EndianTag || Other->Is64Bit != Is64Bit ||
        Other->IsSectionNotes != IsSectionNotes)
      return false;
    if (pastEnd() && Other->pastEnd())
      return true;
    return currentHeader() == Other->currentHeader() && Cursor.Current == Other->Cursor.Current;
  }
  ElfLNoteImplBase *dereference() const override {
    return new ElfLNoteImpl<ELFT>(Cursor.Current, Cursor.Align);
  }
};

// Walks the notes of all headers of one table (sections or program headers) that describe notes.
// Traits give the table, the note type and the header's offset, size and alignment.
template <class ELFT, class Traits> class ElfLTableNoteIteratorImpl : public ElfLNoteIteratorImpl<ELFT> {
  using Base = ElfLNoteIteratorImpl<ELFT>;
  using Header = typename Traits::Header;
  llvm::ArrayRef<Header> Table;
  const Header *Current;

protected:
  const void *currentHeader() const override { return Current; }
  bool pastEnd() const override { return Current == Table.end(); }

  // Moves to the next note, starting the notes of later note headers as needed; headers whose
  // notes cannot be read are passed by.
  void advance(bool First) {
    while (true) {
      if (Current == Table.end() || this->Cursor.Current)
        return;
      if (!(First && Traits::isNotes(*Current))) {
        ++Current;
        while (Current != Table.end() && !Traits::isNotes(*Current))
          ++Current;
      }
      First = false;
      if (Current == Table.end())
        return;
      elfl::startNotes(this->File, Traits::offset(*Current), Traits::size(*Current),
                       Traits::align(*Current), this->Cursor, *this->Cursor.Err);
    }
  }

public:
  ElfLTableNoteIteratorImpl(const llvm::object::ELFFile<ELFT> &File, llvm::Error &ErrorCell,
                            bool End)
      : Base(Traits::IsSections, File, ErrorCell), Table(Traits::table(File)),
        Current(Table.begin()) {
    if (End)
      Current = Table.end();
    else
      advance(true);
  }
  ElfLNoteIteratorImplBase *clone() const override {
    return new ElfLTableNoteIteratorImpl(*this);
  }
  void increment() override {
    if (pastEnd())
      return;
    this->Cursor.step();
    advance(false);
  }
};

namespace elfl {

template <class ELFT> struct SectionNoteTraits {
  using Header = typename ELFT::Shdr;
  static constexpr bool IsSections = true;
  static llvm::ArrayRef<Header> table(const llvm::object::ELFFile<ELFT> &File) {
    return readSections(File);
  }
  static bool isNotes(const Header &H) { return H.sh_type == llvm::ELF::SHT_NOTE; }
  static uint64_t offset(const Header &H) { return H.sh_offset; }
  static uint64_t size(const Header &H) { return H.sh_size; }
  static uint64_t align(const Header &H) { return H.sh_addralign; }
};

template <class ELFT> struct SegmentNoteTraits {
  using Header = typename ELFT::Phdr;
  static constexpr bool IsSections = false;
  static llvm::ArrayRef<Header> table(const llvm::object::ELFFile<ELFT> &File) {
    return readProgramHeaders(File);
  }
  static bool isNotes(const Header &H) { return H.p_type == llvm::ELF::PT_NOTE; }
  static uint64_t offset(const Header &H) { return H.p_offset; }
  static uint64_t size(const Header &H) { return H.p_filesz; }
  static uint64_t align(const Header &H) { return H.p_align; }
};

} // namespace elfl

template <class ELFT>
class ElfLSectionNoteIteratorImpl
    : public ElfLTableNoteIteratorImpl<ELFT, elfl::SectionNoteTraits<ELFT>> {
public:
  using ElfLTableNoteIteratorImpl<ELFT, elfl::SectionNoteTraits<ELFT>>::ElfLTableNoteIteratorImpl;
  ElfLNoteIteratorImplBase *clone() const override { return new ElfLSectionNoteIteratorImpl(*this); }
};

template <class ELFT>
class ElfLSegmentNoteIteratorImpl
    : public ElfLTableNoteIteratorImpl<ELFT, elfl::SegmentNoteTraits<ELFT>> {
public:
  using ElfLTableNoteIteratorImpl<ELFT, elfl::SegmentNoteTraits<ELFT>>::ElfLTableNoteIteratorImpl;
  ElfLNoteIteratorImplBase *clone() const override { return new ElfLSegmentNoteIteratorImpl(*this); }
};

template <class ELFT> class ElfLSectionImpl : public ElfLSectionImplBase {
  const llvm::object::ELFFile<ELFT> &File;
  const typename ELFT::Shdr *Section; // null past the end: everything reads as empty

public:
  ElfLSectionImpl(const llvm::object::ELFFile<ELFT> &File, const typename ELFT::Shdr *Section)
      : File(File), Section(Section) {}
  ElfLSectionImplBase *clone() const override { return new ElfLSectionImpl(*this); }
  const char *getName() const override {
    if (!Section)
      return "";
    auto Name = File.getSectionName(*Section);
    if (!Name) {
      llvm::consumeError(Name.takeError());
      return "";
    }
    // The string table ends with a NUL (the library checks it), so the name is terminated;
    // a name at offset 0 of a missing table comes back without data.
    return Name->data() ? Name->data() : "";
  }
  uint64_t getSize() const override {
    auto Contents = contents();
    return Contents ? Contents->size() : 0;
  }
  const uint8_t *getContents() const override {
    auto Contents = contents();
    return Contents ? Contents->data() : nullptr;
  }

private:
  llvm::Optional<llvm::ArrayRef<uint8_t>> contents() const {
    if (!Section)
      return llvm::None;
    auto Contents = File.getSectionContents(*Section);
    if (!Contents) {
      llvm::consumeError(Contents.takeError());
      return llvm::None;
    }
    return *Contents;
  }
};

template <class ELFT> class ElfLSectionIteratorImpl : public ElfLSectionIteratorImplBase {
  uint32_t EndianTag = elfl::endianTag<ELFT>();
  uint8_t Is64Bit = ELFT::Is64Bits ? 1 : 0;
  const llvm::object::ELFFile<ELFT> &File;
  llvm::ArrayRef<typename ELFT::Shdr> Table;
  const typename ELFT::Shdr *Current;

public:
  ElfLSectionIteratorImpl(const llvm::object::ELFFile<ELFT> &File, bool End)
      : File(File), Table(elfl::readSections(File)), Current(End ? Table.end() : Table.begin()) {}
  ElfLSectionIteratorImplBase *clone() const override { return new ElfLSectionIteratorImpl(*this); }
  void increment() override {
    if (Current != Table.end())
      ++Current;
  }
  bool operator==(const ElfLSectionIteratorImplBase &OtherBase) const override {
    const auto *Other = dynamic_cast<const ElfLSectionIteratorImpl *>(&OtherBase);
    return Other && Other->EndianTag == EndianTag && Other->Is64Bit == Is64Bit &&
           Other->Current == Current;
  }
  ElfLSectionImplBase *dereference() const override {
    return new ElfLSectionImpl<ELFT>(File, Current == Table.end() ? nullptr : Current);
  }
};

template <class ELFT> class ElfLImpl : public ElfLImplBase {
  std::unique_ptr<llvm::MemoryBuffer> Buffer; // wraps the caller's bytes; declared first, dies last
  std::unique_ptr<llvm::object::ELFObjectFile<ELFT>> Object;
  // The outcome of the latest note step of any note walk over this image.
  std::unique_ptr<llvm::Error> ErrorCell;

  const llvm::object::ELFFile<ELFT> &file() const { return Object->getELFFile(); }

public:
  ElfLImpl(std::unique_ptr<llvm::MemoryBuffer> Buffer,
           std::unique_ptr<llvm::object::ELFObjectFile<ELFT>> Object)
      : Buffer(std::move(Buffer)), Object(std::move(Object)),
        ErrorCell(std::make_unique<llvm::Error>(llvm::Error::success())) {}
  ~ElfLImpl() override;

  uint16_t getMachine() const override { return file().getHeader().e_machine; }
  uint16_t getFileType() const override { return file().getHeader().e_type; }
  ElfLNoteIteratorImplBase *createSectionNotesIterator(bool End) const override {
    return new ElfLSectionNoteIteratorImpl<ELFT>(file(), *ErrorCell, End);
  }
  ElfLNoteIteratorImplBase *createSegmentNotesIterator(bool End) const override {
    return new ElfLSegmentNoteIteratorImpl<ELFT>(file(), *ErrorCell, End);
  }
  ElfLSectionIteratorImplBase *createSectionsIterator(bool End) const override {
    return new ElfLSectionIteratorImpl<ELFT>(file(), End);
  }
};

extern template class ElfLImpl<llvm::object::ELF32LE>;
extern template class ElfLImpl<llvm::object::ELF32BE>;
extern template class ElfLImpl<llvm::object::ELF64LE>;
extern template class ElfLImpl<llvm::object::ELF64BE>;

#endif
