// Stepping through the notes of one note section or segment. LLVM 15's own note iterator pads
// names and descriptors to 4 bytes only; offload images also carry notes padded to 8 bytes, so the
// stepping is done here with the library's note header type (byte order) and error values, keeping
// the library iterator's state and rules: the current header, the bytes left, the alignment and an
// error slot that receives the outcome of every step.
#ifndef ELF_ELF_NOTE_CURSOR_H
#define ELF_ELF_NOTE_CURSOR_H

#include "llvm/Object/ELF.h"
#include "llvm/Object/Error.h"
#include "llvm/Support/Error.h"

#include <cstddef>
#include <cstdint>

namespace elfl {

// The note alignment of a note section or segment: 0, 1 and 4 read as 4, 8 as 8; anything else
// cannot be read (0 is returned).
inline size_t noteAlignment(uint64_t AddrAlign) {
  if (AddrAlign == 0 || AddrAlign == 1 || AddrAlign == 4)
    return 4;
  if (AddrAlign == 8)
    return 8;
  return 0;
}

// Replaces what an error slot holds; the old value is dropped.
inline void setError(llvm::Error &Slot, llvm::Error New) {
  llvm::consumeError(std::move(Slot));
  Slot = std::move(New);
}

template <class ELFT> struct NoteCursor {
  using Nhdr = typename ELFT::Nhdr;

  const Nhdr *Current = nullptr; // null: no note (before the start, at the end, or after an error)
  size_t RemainingSize = 0;
  size_t Align = 4;
  llvm::Error *Err = nullptr;

  // Bytes from a note's start to its descriptor.
  static uint64_t descOffset(const Nhdr &Header, size_t Align) {
    return llvm::alignTo(sizeof(Nhdr) + static_cast<uint64_t>(Header.n_namesz), Align);
  }
  // The whole note with its padding. 64-bit arithmetic: 32-bit sizes cannot wrap here.
  static uint64_t noteSize(const Nhdr &Header, size_t Align) {
    return descOffset(Header, Align) +
           llvm::alignTo(static_cast<uint64_t>(Header.n_descsz), Align);
  }

  // Starts on the first note of [Begin, Begin + Size).
  void start(const uint8_t *Begin, size_t Size, size_t NoteAlign, llvm::Error &Slot) {
    RemainingSize = Size;
    Align = NoteAlign;
    Err = &Slot;
    moveTo(Begin, 0);
  }

  // Steps to the next note; at the last one the cursor becomes empty.
  void step() {
    if (!Current)
      return;
    moveTo(reinterpret_cast<const uint8_t *>(Current), noteSize(*Current, Align));
  }

  void clear() {
    Current = nullptr;
    RemainingSize = 0;
  }

private:
  // NoteSize never exceeds RemainingSize: every note taken was checked to fit.
  void moveTo(const uint8_t *Pos, uint64_t NoteSize) {
    RemainingSize -= NoteSize;
    if (RemainingSize == 0) {
      Current = nullptr;
      setError(*Err, llvm::Error::success());
      return;
    }
    if (sizeof(Nhdr) > RemainingSize) {
      overflow();
      return;
    }
    const Nhdr *Next = reinterpret_cast<const Nhdr *>(Pos + NoteSize);
    if (noteSize(*Next, Align) > RemainingSize) {
      overflow();
      return;
    }
    Current = Next;
    setError(*Err, llvm::Error::success());
  }

  void overflow() {
    clear();
    setError(*Err, llvm::make_error<llvm::StringError>("ELF note overflows container",
                                                       llvm::object::object_error::parse_failed));
  }
};

// Starts Cursor over the notes at [Offset, Offset + Size) of File. A range outside the file or an
// alignment other than 0, 1, 4 or 8 puts the library's error in Slot and leaves the cursor empty.
template <class ELFT>
void startNotes(const llvm::object::ELFFile<ELFT> &File, uint64_t Offset, uint64_t Size,
                uint64_t AddrAlign, NoteCursor<ELFT> &Cursor, llvm::Error &Slot) {
  Cursor.clear();
  Cursor.Err = &Slot;
  uint64_t FileSize = File.getBufSize();
  // Written so that a huge offset or size cannot wrap around and pass.
  if (Offset > FileSize || Size > FileSize - Offset) {
    setError(Slot, llvm::object::createError("invalid offset (0x" + llvm::Twine::utohexstr(Offset) +
                                             ") or size (0x" + llvm::Twine::utohexstr(Size) +
                                             ")"));
    return;
  }
  size_t Align = noteAlignment(AddrAlign);
  if (Align == 0) {
    setError(Slot, llvm::object::createError("alignment (" + llvm::Twine(AddrAlign) +
                                             ") is not 4 or 8"));
    return;
  }
  Cursor.start(File.base() + Offset, static_cast<size_t>(Size), Align, Slot);
}

} // namespace elfl

#endif
