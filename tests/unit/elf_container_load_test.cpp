// Loading packaged images over the fake driver: which image of a container becomes the program,
// what is skipped on the way, and the image's own options.
#include "elf_test_images.h"
#include "memory_fake_driver.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace memtest;
using namespace progtest;

namespace {

const EnvironmentList Debug = {{"LIBOMPTARGET_DEBUG", "1"}};

std::string moduleText(const std::string &Manifest) {
  std::vector<uint8_t> Bytes = spirvModule(Manifest);
  return std::string(Bytes.begin(), Bytes.end());
}

// A packaged image: the version note, the given notes, then the given sections.
std::vector<uint8_t> container(std::vector<elftest::Note> Notes,
                               std::vector<elftest::Section> Sections) {
  elftest::Image I;
  Notes.insert(Notes.begin(), elftest::version("1.0"));
  I.Sections = {elftest::notes(".note.offload", Notes)};
  I.Sections.insert(I.Sections.end(), Sections.begin(), Sections.end());
  return elftest::build(I);
}

elftest::Section imageSection(const std::string &Index, const std::string &Manifest) {
  return elftest::progbits("__openmp_offload_spirv_" + Index, moduleText(Manifest));
}

struct LoadResult {
  ChildResult Child;
  bool Loaded = false;
  std::string Log; // the fake driver's call record of the load
};

// Loads Bytes on device 0 with a host table holding one target region, Kernel, which only the
// image meant to become the program defines.
LoadResult load(std::vector<uint8_t> &Bytes, const std::string &Kernel,
                const EnvironmentList &Env = Debug, const std::string &Faults = "") {
  LoadResult Result;
  Result.Child = runPlugin(OneGPU, Faults, Env, [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
    HostEntries Host;
    Host.add(Kernel.c_str());
    DeviceImage Image = imageOf(Bytes, Host);
    if (P.is_valid_binary(&Image) != 1)
      return 6;
    TargetTable *Table = P.load_binary(0, &Image);
    std::printf("%s\n%s", Table ? "loaded" : "failed", fakeCallLog(Fake).c_str());
    return 0;
  });
  std::vector<std::string> Lines = splitLines(Result.Child.Stdout);
  Result.Loaded = !Lines.empty() && Lines[0] == "loaded";
  Result.Log = Result.Child.Stdout;
  return Result;
}

bool said(const LoadResult &R, const std::string &Line) {
  return hasLine(R.Child.Stderr, Prefix + Line);
}

size_t calls(const LoadResult &R, const std::string &Function) {
  size_t N = 0;
  for (const std::string &Line : splitLines(R.Log))
    N += Line.rfind(Function + "(", 0) == 0;
  return N;
}

} // namespace

TEST(ContainerLoad, UnknownFormatThenSPIRVAndTheImageOptions) {
  std::vector<uint8_t> Bytes = container(
      {elftest::count("2"), elftest::aux(elftest::auxRecord("0", "7", "-zero", "-lzero")),
       elftest::aux(elftest::auxRecord("1", "1", "-cl-fast-relaxed-math", "-lone"))},
      {imageSection("0", "kernel zero"), imageSection("1", "kernel one")});
  ASSERT_FALSE(Bytes.empty());

  LoadResult On = load(Bytes, "one");
  ASSERT_EQ(On.Child.ExitStatus, 0) << On.Child.Stderr;
  EXPECT_TRUE(On.Loaded) << On.Child.Stderr;
  EXPECT_TRUE(said(On, "Warning: image 0is ignored due to unknown format.")) << On.Child.Stderr;
  EXPECT_TRUE(said(On, "Created offload program from image #1.")) << On.Child.Stderr;
  EXPECT_EQ(calls(On, "clCreateProgramWithIL"), 1u) << On.Log;
  EXPECT_EQ(calls(On, "clCreateProgramWithBinary"), 0u) << On.Log;
  // The image's own options follow the base texts (one blank each), before the extra texts.
  std::vector<std::string> Compile = optionsOf(On.Log, "clCompileProgram");
  std::vector<std::string> Link = optionsOf(On.Log, "clLinkProgram");
  ASSERT_EQ(Compile.size(), 1u) << On.Log;
  ASSERT_EQ(Link.size(), 1u) << On.Log;
  EXPECT_NE(Compile[0].find("  -cl-fast-relaxed-math "), std::string::npos) << Compile[0];
  EXPECT_EQ(Compile[0].find("-zero"), std::string::npos) << Compile[0];
  EXPECT_EQ(Link[0].rfind(" -lone ", 0), 0u) << Link[0];

  EnvironmentList NoImageOptions = Debug;
  NoImageOptions.push_back({"LIBOMPTARGET_QUVELA_USE_IMAGE_OPTIONS", "0"});
  LoadResult Off = load(Bytes, "one", NoImageOptions);
  EXPECT_TRUE(Off.Loaded) << Off.Child.Stderr;
  Compile = optionsOf(Off.Log, "clCompileProgram");
  Link = optionsOf(Off.Log, "clLinkProgram");
  ASSERT_EQ(Compile.size(), 1u);
  ASSERT_EQ(Link.size(), 1u);
  EXPECT_EQ(Compile[0].find("-cl-fast-relaxed-math"), std::string::npos) << Compile[0];
  EXPECT_EQ(Link[0].find("-lone"), std::string::npos) << Link[0];
  // Without the image's texts, the options are those of a bare module.
  std::vector<uint8_t> Bare = spirvModule("kernel one");
  LoadResult Plain = load(Bare, "one");
  EXPECT_EQ(optionsOf(Plain.Log, "clCompileProgram"), Compile);
  EXPECT_EQ(optionsOf(Plain.Log, "clLinkProgram"), Link);
}

TEST(ContainerLoad, AnImageTheDriverRefusesGivesWayToTheNext) {
  std::vector<uint8_t> Bytes = container(
      {elftest::count("2"), elftest::aux(elftest::auxRecord("0", "1", "", "")),
       elftest::aux(elftest::auxRecord("1", "1", "", ""))},
      {imageSection("0", "kernel k"), imageSection("1", "kernel k")});
  ASSERT_FALSE(Bytes.empty());
  LoadResult R = load(Bytes, "k", Debug, "fail clCreateProgramWithIL nth=1 err=-42");
  ASSERT_EQ(R.Child.ExitStatus, 0) << R.Child.Stderr;
  EXPECT_TRUE(R.Loaded) << R.Child.Stderr;
  EXPECT_TRUE(said(R, "Error: Failed to create program from SPIR-V: -42")) << R.Child.Stderr;
  EXPECT_TRUE(said(R, "Created offload program from image #1.")) << R.Child.Stderr;
  EXPECT_EQ(calls(R, "clCreateProgramWithIL"), 2u) << R.Log;
}

TEST(ContainerLoad, NoUsableImage) {
  struct Case {
    const char *Title;
    std::vector<elftest::Note> Notes;
    std::vector<elftest::Section> Sections;
    std::vector<std::string> Lines;
  } Cases[] = {
      {"only index 5 with a count of 1",
       {elftest::count("1"), elftest::aux(elftest::auxRecord("5", "1", "", ""))},
       {imageSection("0", "kernel k"), imageSection("5", "kernel k")},
       {"Warning: invalid image index found in auxiliary information.",
        "Warning: ignoring image section (no aux info).",
        "Warning: ignoring image section (index 5 is out of range).",
        "Warning: image 0 without auxiliary information is ingored."}},
      {"a count of 0",
       {elftest::count("0"), elftest::aux(elftest::auxRecord("0", "1", "", ""))},
       {imageSection("0", "kernel k")},
       {"Warning: invalid image index found in auxiliary information.",
        "Warning: ignoring image section (index 0 is out of range)."}},
      {"only a short record",
       {elftest::count("1"), elftest::aux(std::string("0\0" "1", 3))},
       {imageSection("0", "kernel k")},
       {"Warning: short NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX record is ignored.",
        "Warning: ignoring image section (no aux info).",
        "Warning: image 0 without auxiliary information is ingored."}},
  };
  for (Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    std::vector<uint8_t> Bytes = container(C.Notes, C.Sections);
    ASSERT_FALSE(Bytes.empty());
    LoadResult R = load(Bytes, "k");
    ASSERT_EQ(R.Child.ExitStatus, 0) << R.Child.Stderr;
    EXPECT_FALSE(R.Loaded);
    for (const std::string &Line : C.Lines)
      EXPECT_TRUE(said(R, Line)) << Line << "\n" << R.Child.Stderr;
    EXPECT_EQ(calls(R, "clCreateProgramWithIL") + calls(R, "clCreateProgramWithBinary"), 0u)
        << R.Log;
  }
}

TEST(ContainerLoad, DuplicateShortAndStrayPartsAreSkipped) {
  // Image 0 has only a short record; image 1's first record (native) wins over its duplicate;
  // stray sections are passed by; a later section of image 1 replaces the first one.
  std::vector<uint8_t> Bytes = container(
      {elftest::count("3"), elftest::aux(std::string("0\0" "1\0" "-x", 6)),
       elftest::aux(elftest::auxRecord("1", "0", "", "")),
       elftest::aux(elftest::auxRecord("1", "1", "-dup", "")),
       elftest::aux(elftest::auxRecord("2", "1", "", ""))},
      {imageSection("1", "kernel stale"), imageSection("9", "kernel k"),
       elftest::progbits("__openmp_offload_spirv_", "no index"),
       imageSection("1 [1]", "kernel k"), imageSection("2", "kernel two")});
  ASSERT_FALSE(Bytes.empty());
  LoadResult R = load(Bytes, "k");
  ASSERT_EQ(R.Child.ExitStatus, 0) << R.Child.Stderr;
  EXPECT_TRUE(R.Loaded) << R.Child.Stderr;
  for (const char *Line : {"Warning: short NT_TARNO_QUVOMP_OFFLOAD_IMAGE_AUX record is ignored.",
                           "Warning: duplicate auxiliary information for image 1 is ignored.",
                           "Warning: ignoring image section (index 9 is out of range).",
                           "Warning: ignoring image section with a malformed index.",
                           "Warning: image 0 without auxiliary information is ingored.",
                           "Created offload program from image #1."})
    EXPECT_TRUE(said(R, Line)) << Line << "\n" << R.Child.Stderr;
  EXPECT_FALSE(said(R, "Warning: invalid image index found in auxiliary information."));
  // The native image of index 1 is built alone; image 2 is never looked at.
  EXPECT_EQ(calls(R, "clCreateProgramWithBinary"), 1u) << R.Log;
  EXPECT_EQ(calls(R, "clCreateProgramWithIL"), 0u) << R.Log;
  EXPECT_EQ(calls(R, "clBuildProgram"), 1u) << R.Log;
}

TEST(ContainerLoad, CompleteTableForKernelsGlobalsAndFunctionPointers) {
  const std::string Manifest = "kernel region_a args=2\nkernel region_b\nglobal var 8\n"
                               "entry fptr address=0xf00 flags=8\nentry region_a\n"
                               "entry region_b\nentry var size=8 global=var\n";
  std::vector<uint8_t> Bytes =
      container({elftest::count("1"), elftest::aux(elftest::auxRecord("0", "1", "", ""))},
                {imageSection("0", Manifest)});
  ASSERT_FALSE(Bytes.empty());
  ChildResult R = runPlugin(OneGPU, "", {}, [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
    static uint64_t HostVar = 5;
    HostEntries Host;
    Host.add("region_a").add("var", 8, 0, &HostVar).add("fptr", 0, 8, &HostVar).add("region_b");
    DeviceImage Image = imageOf(Bytes, Host);
    TargetTable *Table = P.load_binary(0, &Image);
    if (!Table || Table->EntriesEnd - Table->EntriesBegin != 4)
      return 7;
    const OffloadEntry *E = Table->EntriesBegin;
    std::printf("%d %d %d %d %d %d\n", *static_cast<void **>(E[0].address) != nullptr,
                E[1].address == Fake.find_global("var", nullptr),
                E[2].address == reinterpret_cast<void *>(0xf00) && E[2].flags == 8,
                *static_cast<void **>(E[3].address) != nullptr,
                E[0].name == Host.Entries[0].name && E[3].name == Host.Entries[3].name,
                E[1].size == 8 && E[0].size == 0);
    return 0;
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "1 1 1 1 1 1\n");
}
