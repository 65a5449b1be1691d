// The ELF reader and the version note over images written by LLVM's YAML converter: the four ELF
// types, note alignments, unreadable note sections and what the reader reports about them.
#include "elf_test_images.h"

#include "child_process.h"
#include "elf/elf_light.h"
#include "frame/debug.h"
#include "program/image_container.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace elftest;

namespace {

struct SeenNote {
  std::string Name;
  uint64_t Type;
  std::string Desc;
  bool operator==(const SeenNote &O) const {
    return Name == O.Name && Type == O.Type && Desc == O.Desc;
  }
};

std::ostream &operator<<(std::ostream &OS, const SeenNote &N) {
  return OS << "{" << N.Name << ", " << N.Type << ", " << hex(N.Desc) << "}";
}

// Every note of the walk, checking on the way that names and descriptors lie inside the image.
std::vector<SeenNote> walk(const ElfL &Elf, bool Segments, const std::vector<uint8_t> &Bytes) {
  std::vector<SeenNote> Seen;
  auto It = Segments ? Elf.segmentNotesBegin() : Elf.sectionNotesBegin();
  auto End = Segments ? Elf.segmentNotesEnd() : Elf.sectionNotesEnd();
  const uint8_t *Lo = Bytes.data(), *Hi = Bytes.data() + Bytes.size();
  for (; It != End; ++It) {
    ElfLNote N = *It;
    SeenNote S{"", N.type(), ""};
    if (N.nameSize()) {
      const uint8_t *Name = reinterpret_cast<const uint8_t *>(N.name());
      EXPECT_TRUE(Name >= Lo && Name + N.nameSize() <= Hi);
      S.Name.assign(N.name(), N.nameSize());
    } else {
      EXPECT_EQ(N.name(), nullptr);
    }
    if (N.descSize()) {
      EXPECT_TRUE(N.desc() >= Lo && N.desc() + N.descSize() <= Hi);
      S.Desc.assign(reinterpret_cast<const char *>(N.desc()), N.descSize());
    } else {
      EXPECT_EQ(N.desc(), nullptr);
    }
    Seen.push_back(S);
  }
  return Seen;
}

// Messages are checked in children, which inherit the level this process started with.
class DebugOn : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(readDebugLevel(), 1) << "run with LIBOMPTARGET_DEBUG=1 (the test's set-up does)";
  }
};

const std::string LightPrefix = "TARGET ELF light --> ";
const std::string PluginPrefix = "Target OPENCL RTL --> ";

} // namespace

TEST(ElfReader, NotesSectionsAndSegmentsInAllFourTypes) {
  for (const ElfType &T : AllTypes) {
    SCOPED_TRACE(T.Title);
    Image I = emptyImage(T);
    I.Machine = "EM_PPC";
    I.Sections = {progbits("__openmp_offload_spirv_0", std::string("spv\0bytes", 9)),
                  notes(".note.a", {version("1.0"), {"", 9, "xy"}, {"ABC", 0x12345678, ""}}),
                  progbits(".data", "d"),
                  notes(".note.b", {count("2")})};
    I.ProgramHeaders = "  - Type: PT_NOTE\n    FirstSec: .note.b\n    LastSec: .note.b\n";
    std::vector<uint8_t> Bytes = build(I);
    ASSERT_FALSE(Bytes.empty());

    ElfL Elf(Bytes.data(), Bytes.size());
    ASSERT_TRUE(Elf.isValid());
    EXPECT_EQ(Elf.machine(), 20); // EM_PPC
    EXPECT_EQ(Elf.fileType(), 1); // ET_REL
    std::vector<SeenNote> Expected = {{"TARNOQUVOMPOFFLOAD", 1, "1.0"},
                                      {"", 9, "xy"},
                                      {"ABC", 0x12345678, ""},
                                      {"TARNOQUVOMPOFFLOAD", 2, "2"}};
    EXPECT_EQ(walk(Elf, false, Bytes), Expected);
    EXPECT_EQ(walk(Elf, true, Bytes), std::vector<SeenNote>({Expected[3]}));

    // Sections in table order, contents in place inside the image.
    std::vector<std::string> Names;
    const ElfLSection *Image0 = nullptr;
    std::vector<ElfLSection> Kept;
    for (auto It = Elf.sectionsBegin(); It != Elf.sectionsEnd(); ++It) {
      Kept.push_back(*It);
      Names.push_back(Kept.back().name());
    }
    ASSERT_GE(Names.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(Names.begin(), Names.begin() + 5),
              std::vector<std::string>(
                  {"", "__openmp_offload_spirv_0", ".note.a", ".data", ".note.b"}));
    Image0 = &Kept[1];
    ASSERT_EQ(Image0->size(), 9u);
    EXPECT_TRUE(Image0->contents() > Bytes.data() &&
                Image0->contents() + 9 <= Bytes.data() + Bytes.size());
    EXPECT_EQ(std::memcmp(Image0->contents(), "spv\0bytes", 9), 0);

    uint64_t Major = 7, Minor = 7;
    EXPECT_TRUE(getImageVersion(Bytes.data(), Bytes.data() + Bytes.size(), Major, Minor));
    EXPECT_EQ(Major, 1u);
    EXPECT_EQ(Minor, 0u);
  }
}

TEST(ElfReader, IteratorsCopyCompareAndStop) {
  Image I;
  I.Sections = {notes(".note.a", {{"A", 1, "a"}, {"B", 2, "b"}}), notes(".note.b", {{"C", 3, ""}})};
  std::vector<uint8_t> Bytes = build(I);
  ElfL Elf(Bytes.data(), Bytes.size());
  ASSERT_TRUE(Elf.isValid());

  ElfLNoteIterator A = Elf.sectionNotesBegin();
  ElfLNoteIterator B = A; // a copy walks on its own
  ++B;
  EXPECT_NE(A, B);
  EXPECT_EQ((*A).type(), 1u);
  EXPECT_EQ((*B).type(), 2u);
  ++A;
  EXPECT_EQ(A, B);
  ++A; // into the next section
  EXPECT_EQ((*A).type(), 3u);
  ++A;
  EXPECT_EQ(A, Elf.sectionNotesEnd());
  ++A; // stays at the end
  EXPECT_EQ(A, Elf.sectionNotesEnd());
  // Section notes and segment notes are different walks, even at their ends.
  EXPECT_NE(Elf.sectionNotesEnd(), Elf.segmentNotesEnd());
  EXPECT_EQ(Elf.segmentNotesBegin(), Elf.segmentNotesEnd()); // no program headers

  ElfLSectionIterator S = Elf.sectionsBegin(), S2 = S;
  ++S2;
  EXPECT_NE(S, S2);
  S = S2;
  EXPECT_EQ(S, S2);

  // Not ELF at all, and a null range.
  const char Text[] = "not an ELF file, only text";
  EXPECT_FALSE(ElfL(Text, sizeof(Text)).isValid());
  EXPECT_FALSE(ElfL(nullptr, 0).isValid());
  EXPECT_STREQ(ElfL(nullptr, 0).errorMessage(), "LLVM ELF error");
}

TEST(ElfReader, NoteAlignments) {
  // "ABCD" (namesz 5) and a 3-byte descriptor pad differently to 4 and to 8 bytes, so the version
  // note after it is found only when the padding is read right.
  std::vector<Note> Notes = {{"ABCD", 5, "xyz"}, version("1.0")};
  for (const ElfType &T : AllTypes) {
    for (uint64_t AddrAlign : {0, 1, 4, 8}) {
      SCOPED_TRACE(std::string(T.Title) + ", sh_addralign " + std::to_string(AddrAlign));
      Image I = emptyImage(T);
      // The converter pads notes to 4; 8-byte padding is laid out here.
      I.Sections = {AddrAlign == 8 ? rawNotes(".note", Notes, 8, T.BigEndian, 8)
                                   : notes(".note", Notes, AddrAlign)};
      std::vector<uint8_t> Bytes = build(I);
      ElfL Elf(Bytes.data(), Bytes.size());
      ASSERT_TRUE(Elf.isValid());
      std::vector<SeenNote> Seen = walk(Elf, false, Bytes);
      EXPECT_EQ(Seen, std::vector<SeenNote>({{"ABCD", 5, "xyz"}, {"TARNOQUVOMPOFFLOAD", 1, "1.0"}}));
      uint64_t Major = 0, Minor = 0;
      EXPECT_TRUE(getImageVersion(Bytes.data(), Bytes.data() + Bytes.size(), Major, Minor));
    }
  }
}

TEST_F(DebugOn, UnreadableNoteSectionsAreSkippedAndReported) {
  struct Case {
    const char *Title;
    std::vector<Section> Sections;
    std::vector<SeenNote> Expected;
    std::string DestroyLine; // empty: no report when the reader is destroyed
  } Cases[] = {
      {"alignment 2 before a readable section",
       {notes(".note.bad", {{"X", 1, "x"}}, 2), notes(".note.good", {version("1.0")})},
       {{"TARNOQUVOMPOFFLOAD", 1, "1.0"}},
       ""},
      {"alignment 16 last: the error stays",
       {notes(".note.good", {{"Y", 4, ""}}), notes(".note.bad", {{"X", 1, "x"}}, 16)},
       {{"Y", 4, ""}},
       "Destroying ELF object parsed with errors: alignment (16) is not 4 or 8"},
      {"a note overflowing its section",
       {[] {
          Section S = rawNotes(".note.over", {{"Z", 2, "zz"}, {"W", 3, "1.0"}}, 4, false, 4);
          S.Content[20 + 4] = 9; // the second note's descsz: 9 bytes, past the section end
          return S;
        }()},
       {{"Z", 2, "zz"}},
       "Destroying ELF object parsed with errors: ELF note overflows container"},
      {"a section past the end of the file",
       {notes(".note.far", {{"F", 1, "f"}})},
       {},
       "Destroying ELF object parsed with errors: invalid offset (0x10000) or size (0x14)"},
  };
  Cases[3].Sections[0].Overrides = "ShOffset: 0x10000";

  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    Image I;
    I.Sections = C.Sections;
    std::vector<uint8_t> Bytes = build(I);
    ASSERT_FALSE(Bytes.empty());
    ChildResult R = runInChild({}, [&]() {
      {
        ElfL Elf(Bytes.data(), Bytes.size());
        if (!Elf.isValid())
          return 2;
        if (walk(Elf, false, Bytes) != C.Expected)
          return 3;
      }
      std::fputs("--\n", stderr);
      return 0;
    });
    EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
    if (C.DestroyLine.empty())
      EXPECT_EQ(R.Stderr, "--\n");
    else
      EXPECT_EQ(R.Stderr, LightPrefix + C.DestroyLine + "\n--\n");
  }
}

TEST(ElfReader, HugeOffsetsDoNotWrapAround) {
  // sh_offset + sh_size wraps past zero for the file's word size; the section must be refused,
  // not read from before the image.
  for (const ElfType &T : AllTypes) {
    SCOPED_TRACE(T.Title);
    Image I = emptyImage(T);
    Section Wrap = notes(".note.wrap", {version("1.0")});
    Wrap.Overrides = T.Is64 ? "ShOffset: 0xFFFFFFFFFFFFFFF0" : "ShOffset: 0xFFFFFFF0";
    I.Sections = {Wrap};
    std::vector<uint8_t> Bytes = build(I);
    ASSERT_FALSE(Bytes.empty());
    ElfL Elf(Bytes.data(), Bytes.size());
    ASSERT_TRUE(Elf.isValid());
    EXPECT_EQ(Elf.sectionNotesBegin(), Elf.sectionNotesEnd());
    uint64_t Major = 0, Minor = 0;
    EXPECT_FALSE(getImageVersion(Bytes.data(), Bytes.data() + Bytes.size(), Major, Minor));
  }
}

TEST_F(DebugOn, ImageVersionValuesAndMessages) {
  struct Case {
    std::vector<Note> Notes;
    bool Valid;
    uint64_t Major, Minor; // expected when a value was read
    std::string Message;   // the debug line, if any
  } Cases[] = {
      {{version("1.0")}, true, 1, 0, ""},
      {{version(std::string("1.0\0", 4))}, true, 1, 0, ""},
      {{version("1.1")}, false, 1, 1, ""},
      {{version("2.0")}, false, 2, 0, ""},
      {{version("1")}, false, 99, 99, "Invalid NT_TARNO_QUVOMP_OFFLOAD_VERSION: '1'"},
      {{version("")}, false, 99, 99, "Invalid NT_TARNO_QUVOMP_OFFLOAD_VERSION: ''"},
      {{version(".0")}, false, 99, 99, "Invalid NT_TARNO_QUVOMP_OFFLOAD_VERSION: '.0'"},
      {{version("1.")}, false, 99, 99, "Invalid NT_TARNO_QUVOMP_OFFLOAD_VERSION: '1.'"},
      {{version("-1.0")}, false, 99, 99, "Invalid NT_TARNO_QUVOMP_OFFLOAD_VERSION: '-1.0'"},
      // Read like strtoull: blanks first, digits up to the first other character.
      {{version(" 1.0rc")}, true, 1, 0, ""},
      {{version("99999999999999999999.0")}, false, UINT64_MAX, 0, ""},
      // Only the first version note counts.
      {{version("1.1"), version("1.0")}, false, 1, 1, ""},
      {{version("1.0"), version("2.0")}, true, 1, 0, ""},
      // Names are compared whole, and the type must be 1.
      {{{"TARNOQUVOMPOFFLOA", 1, "1.0"}, {"TARNOQUVOMPOFFLOADX", 1, "1.0"}, count("1.0")},
       false, 99, 99, ""},
      {{}, false, 99, 99, ""},
  };
  for (const Case &C : Cases) {
    std::string Title = C.Notes.empty() ? "no notes" : hex(C.Notes[0].Desc);
    SCOPED_TRACE(Title);
    Image I;
    I.Sections = {notes(".note", C.Notes)};
    std::vector<uint8_t> Bytes = build(I);
    ChildResult R = runInChild({}, [&]() {
      uint64_t Major = 99, Minor = 99;
      bool Valid = getImageVersion(Bytes.data(), Bytes.data() + Bytes.size(), Major, Minor);
      std::printf("%d %llu %llu\n", Valid, static_cast<unsigned long long>(Major),
                  static_cast<unsigned long long>(Minor));
      return 0;
    });
    EXPECT_EQ(R.Stdout, std::to_string(C.Valid) + " " + std::to_string(C.Major) + " " +
                            std::to_string(C.Minor) + "\n");
    EXPECT_EQ(R.Stderr, C.Message.empty() ? "" : PluginPrefix + C.Message + "\n");
  }

  // Not ELF: the reader cannot be made.
  const char Text[] = "plain text";
  ChildResult R = runInChild({}, [&]() {
    uint64_t Major = 0, Minor = 0;
    return getImageVersion(Text, Text + sizeof(Text), Major, Minor) ? 1 : 0;
  });
  EXPECT_EQ(R.ExitStatus, 0);
  EXPECT_EQ(R.Stderr, PluginPrefix + "Warning: unable to get ELF handle: LLVM ELF error!\n");
}
