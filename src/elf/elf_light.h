// A small read-only view of an ELF image: its notes (of note sections or of note segments) and its
// sections. It works for 32- and 64-bit files of either byte order and never copies the image:
// names, descriptors and contents are addresses inside the caller's bytes, valid while those bytes
// and the ElfL live. Iterators, notes and sections must not outlive the ElfL they came from.
#ifndef ELF_ELF_LIGHT_H
#define ELF_ELF_LIGHT_H

#include <cstddef>
#include <cstdint>
#include <memory>

class ElfLImplBase;
class ElfLNoteIteratorImplBase;
class ElfLNoteImplBase;
class ElfLSectionIteratorImplBase;
class ElfLSectionImplBase;

class ElfLNote {
public:
  explicit ElfLNote(ElfLNoteImplBase *Impl);
  ElfLNote(const ElfLNote &Other);
  ~ElfLNote();

  // The name's length without its terminating NUL; 0 when the note has no name.
  uint64_t nameSize() const;
  // The name bytes (not NUL-terminated by the reader); null when the note has no name.
  const char *name() const;
  uint64_t descSize() const;
  // The descriptor bytes; null when the descriptor is empty.
  const uint8_t *desc() const;
  uint64_t type() const;

private:
  std::unique_ptr<ElfLNoteImplBase> Impl;
};

class ElfLNoteIterator {
public:
  explicit ElfLNoteIterator(ElfLNoteIteratorImplBase *Impl);
  ElfLNoteIterator(const ElfLNoteIterator &Other);
  ElfLNoteIterator &operator=(const ElfLNoteIterator &Other);
  ~ElfLNoteIterator();

  bool operator==(const ElfLNoteIterator &Other) const;
  bool operator!=(const ElfLNoteIterator &Other) const { return !(*this == Other); }
  ElfLNoteIterator &operator++();
  ElfLNote operator*() const;

private:
  std::unique_ptr<ElfLNoteIteratorImplBase> Impl;
};

class ElfLSection {
public:
  explicit ElfLSection(ElfLSectionImplBase *Impl);
  ElfLSection(const ElfLSection &Other);
  ~ElfLSection();

  // The section's name; the empty text when it cannot be read.
  const char *name() const;
  // The size of the contents; 0 when they cannot be read.
  uint64_t size() const;
  // The contents inside the image; null when they cannot be read.
  const uint8_t *contents() const;

private:
  std::unique_ptr<ElfLSectionImplBase> Impl;
};

class ElfLSectionIterator {
public:
  explicit ElfLSectionIterator(ElfLSectionIteratorImplBase *Impl);
  ElfLSectionIterator(const ElfLSectionIterator &Other);
  ElfLSectionIterator &operator=(const ElfLSectionIterator &Other);
  ~ElfLSectionIterator();

  bool operator==(const ElfLSectionIterator &Other) const;
  bool operator!=(const ElfLSectionIterator &Other) const { return !(*this == Other); }
  ElfLSectionIterator &operator++();
  ElfLSection operator*() const;

private:
  std::unique_ptr<ElfLSectionIteratorImplBase> Impl;
};

class ElfL {
public:
  ElfL(const void *Start, size_t Size);
  ElfL(const ElfL &) = delete;
  ElfL &operator=(const ElfL &) = delete;
  // Reports, as a debug message, a note error left by the last step of a note walk.
  ~ElfL();

  bool isValid() const { return Impl != nullptr; }
  // The library's own error text is not kept.
  const char *errorMessage() const { return "LLVM ELF error"; }

  // Valid only for a valid ElfL.
  uint16_t machine() const;
  uint16_t fileType() const;

  // Every note of every SHT_NOTE section, in section order.
  ElfLNoteIterator sectionNotesBegin() const;
  ElfLNoteIterator sectionNotesEnd() const;
  // Every note of every PT_NOTE program header, in header order.
  ElfLNoteIterator segmentNotesBegin() const;
  ElfLNoteIterator segmentNotesEnd() const;
  // The whole section header table.
  ElfLSectionIterator sectionsBegin() const;
  ElfLSectionIterator sectionsEnd() const;

private:
  std::unique_ptr<ElfLImplBase> Impl;
};

#endif
