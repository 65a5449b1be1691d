// The container walk over YAML-made packaged images: image count, auxiliary records, image
// sections and the warning for every part that is skipped.
#include "elf_test_images.h"

#include "child_process.h"
#include "frame/debug.h"
#include "program/image_container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

using namespace elftest;

namespace {

const std::string Prefix = "Target OPENCL RTL --> ";

// The walk's result as text, one line per image index in increasing order; the image bytes are
// shown as the section contents they point at (checked to lie inside the image).
std::string describe(const ImageContainer &C, const std::vector<uint8_t> &Bytes) {
  std::ostringstream OS;
  OS << "count " << C.ImageCount << "\n";
  std::vector<uint64_t> Indices;
  for (const auto &Entry : C.Aux)
    Indices.push_back(Entry.first);
  std::sort(Indices.begin(), Indices.end());
  for (uint64_t Index : Indices) {
    const ImageAuxInfo &A = C.Aux.at(Index);
    OS << Index << ": format " << A.Format << " [" << A.CompileOptions << "] [" << A.LinkOptions
       << "] ";
    const uint8_t *P = static_cast<const uint8_t *>(A.Contents);
    if (!P)
      OS << "no contents " << A.Size;
    else if (P < Bytes.data() || P + A.Size > Bytes.data() + Bytes.size())
      OS << "contents outside the image";
    else
      OS << "'" << std::string(reinterpret_cast<const char *>(P), A.Size) << "'";
    OS << "\n";
  }
  return OS.str();
}

// Walks the image in a child (the debug level of this process, 1) and returns the description
// on stdout and the warnings on stderr.
ChildResult walkInChild(const std::vector<uint8_t> &Bytes) {
  return runInChild({}, [&Bytes]() {
    ImageContainer C;
    C.ImageCount = 77; // replaced by the walk
    readImageContainer(Bytes.data(), Bytes.size(), C);
    std::fputs(describe(C, Bytes).c_str(), stdout);
    std::fflush(stdout);
    return 0;
  });
}

std::string lines(const std::vector<std::string> &Texts) {
  std::string Out;
  for (const std::string &T : Texts)
    Out += Prefix + T + "\n";
  return Out;
}

class ContainerWalk : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(readDebugLevel(), 1) << "run with LIBOMPTARGET_DEBUG=1 (the test's set-up does)";
  }
};

} // namespace

TEST_F(ContainerWalk, TwoImagesInAllFourTypes) {
  for (const ElfType &T : AllTypes) {
    SCOPED_TRACE(T.Title);
    Image I = emptyImage(T);
    // Records and images in two note sections (the second padded to 8) and out of order.
    I.Sections = {
        progbits("__openmp_offload_spirv_1", "second image"),
        notes(".note.a", {version("1.0"), aux(auxRecord("1", "1", "-cl-fast", "-lx"))}),
        rawNotes(".note.b", {count("2"), aux(auxRecord("0", "7", "", ""))}, 8, T.BigEndian, 8),
        progbits("__openmp_offload_spirv_0", "first")};
    std::vector<uint8_t> Bytes = build(I);
    ASSERT_FALSE(Bytes.empty());
    ChildResult R = walkInChild(Bytes);
    EXPECT_EQ(R.Stdout, "count 2\n"
                        "0: format 7 [] [] 'first'\n"
                        "1: format 1 [-cl-fast] [-lx] 'second image'\n");
    EXPECT_EQ(R.Stderr, "");
  }
}

TEST_F(ContainerWalk, SkippedRecordsAndSections) {
  Image I;
  Section Unnamed = progbits("__openmp_offload_spirv_0 [2]", "unnamed");
  Unnamed.Overrides = "ShName: 0xFFFF"; // the name cannot be read: never an image section
  I.Sections = {
      notes(".note",
            {version("1.0"),
             count("x"), // ignored; the count stays 0 until the next note
             count("1"),
             aux(std::string("0\0" "1\0" "-c", 6)), // three fields
             aux(auxRecord("x", "1", "", "")),
             aux(auxRecord("0", "", "", "")),
             aux(auxRecord("0", "1", "a", "b") + std::string("\0tail", 5)),
             aux(auxRecord("0", "0", "c", "d")),
             aux(auxRecord("5", "1", "", "")),
             {"TARNOQUVOMPOFFLOAD", 9, ""},
             {"OTHER", 3, "9\0" "9\0\0"}}),
      progbits("__openmp_offload_spirv_0", "replaced"),
      progbits("__openmp_offload_spirv_5", "out of range"),
      progbits("__openmp_offload_spirv_", "no index"),
      progbits("__openmp_offload_spirv_x", "bad index"),
      progbits("__openmp_offload_spirv_0 [1]", "kept"),
      Unnamed,
      progbits("__openmp_offload_spirv", "other name")};
  std::vector<uint8_t> Bytes = build(I);
  ASSERT_FALSE(Bytes.empty());
  ChildResult R = walkInChild(Bytes);
  EXPECT_EQ(R.Stdout, "count 1\n"
                      "0: format 1 [a] [b] 'kept'\n"
                      "5: format 1 [] [] no contents 0\n");
  EXPECT_EQ(R.Stderr,
            lines({"Warning: NT_TARNO_QUVOMP_OFFLOAD_IMAGE_COUNT with a malformed number is ignored.",
                   "Warning: short NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX record is ignored.",
                   "Warning: NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX record with a malformed number is "
                   "ignored.",
                   "Warning: NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX record with a malformed number is "
                   "ignored.",
                   "Warning: duplicate auxiliary information for image 0 is ignored.",
                   "Warning: unrecognized TARNOQUVOMPOFFLOAD note.",
                   "Warning: invalid image index found in auxiliary information.",
                   "Warning: ignoring image section (index 5 is out of range).",
                   "Warning: ignoring image section with a malformed index.",
                   "Warning: ignoring image section with a malformed index."}));
}

TEST_F(ContainerWalk, CountsAndMissingRecords) {
  struct Case {
    const char *Title;
    std::vector<Note> Notes;
    std::string Stdout;
    std::vector<std::string> Warnings;
  } Cases[] = {
      {"count 0",
       {version("1.0"), count("0"), aux(auxRecord("0", "1", "", ""))},
       "count 0\n0: format 1 [] [] no contents 0\n",
       {"Warning: invalid image index found in auxiliary information.",
        "Warning: ignoring image section (index 0 is out of range).",
        "Warning: ignoring image section (index 1 is out of range)."}},
      {"no count note and no records",
       {version("1.0")},
       "count 0\n",
       {"Warning: invalid image index found in auxiliary information.",
        "Warning: ignoring image section (index 0 is out of range).",
        "Warning: ignoring image section (index 1 is out of range)."}},
      {"image 0 without a record",
       {version("1.0"), count("2"), aux(auxRecord("1", "0", "", ""))},
       "count 2\n1: format 0 [] [] 'image one'\n",
       {"Warning: ignoring image section (no aux info)."}},
      {"empty fields, the last one after the final NUL",
       {version("1.0"), count(" 3"), aux(std::string("2\0" "1\0\0", 5))},
       "count 3\n2: format 1 [] [] no contents 0\n",
       {"Warning: ignoring image section (no aux info).",
        "Warning: ignoring image section (no aux info)."}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    Image I;
    I.Sections = {notes(".note", C.Notes), progbits("__openmp_offload_spirv_0", "image zero"),
                  progbits("__openmp_offload_spirv_1", "image one")};
    std::vector<uint8_t> Bytes = build(I);
    ChildResult R = walkInChild(Bytes);
    EXPECT_EQ(R.Stdout, C.Stdout);
    EXPECT_EQ(R.Stderr, lines(C.Warnings));
  }

  // Not an ELF file: nothing is found and nothing is said.
  std::vector<uint8_t> Text = {'t', 'e', 'x', 't'};
  ChildResult R = walkInChild(Text);
  EXPECT_EQ(R.Stdout, "count 0\n");
  EXPECT_EQ(R.Stderr, "");
}
