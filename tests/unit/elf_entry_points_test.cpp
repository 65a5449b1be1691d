// Image recognition as the host runtime sees it: the plugin library loaded in a fresh child per
// debug level, asked about packaged images, bare SPIR-V, other ELF files and broken input.
#include "elf_test_images.h"

#include "child_process.h"
#include "omptarget_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace elftest;

namespace {

struct EntryPoints {
  int32_t (*IsValid)(DeviceImage *) = nullptr;
  int32_t (*CheckMachine)(DeviceImage *, uint16_t) = nullptr;
  int32_t (*IsDynamic)(DeviceImage *) = nullptr;
};

const char *const BodyStarts = "--body--\n";

// Loads the plugin in a child with the given debug level (null: unset) and runs Body; what Body
// prints to stdout and what the plugin prints to stderr during Body (not while loading) come back.
ChildResult withPlugin(const char *Level, const std::function<void(const EntryPoints &)> &Body) {
  EnvironmentList Env;
  if (Level)
    Env.push_back({"LIBOMPTARGET_DEBUG", Level});
  ChildResult R = runInChild(Env, [&Body]() {
    void *Handle = dlopen(PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!Handle)
      return 90;
    EntryPoints E;
    E.IsValid = reinterpret_cast<decltype(E.IsValid)>(dlsym(Handle, "__tgt_rtl_is_valid_binary"));
    E.CheckMachine = reinterpret_cast<decltype(E.CheckMachine)>(dlsym(Handle, "elf_check_machine"));
    E.IsDynamic = reinterpret_cast<decltype(E.IsDynamic)>(dlsym(Handle, "elf_is_dynamic"));
    if (!E.IsValid || !E.CheckMachine || !E.IsDynamic)
      return 91;
    std::fputs(BodyStarts, stderr);
    Body(E);
    std::fflush(stdout);
    return 0;
  });
  size_t Start = R.Stderr.find(BodyStarts);
  R.Stderr = Start == std::string::npos ? "no body: " + R.Stderr
                                        : R.Stderr.substr(Start + std::strlen(BodyStarts));
  return R;
}

DeviceImage imageOf(std::vector<uint8_t> &Bytes) {
  return DeviceImage{Bytes.data(), Bytes.data() + Bytes.size(), nullptr, nullptr};
}

std::vector<uint8_t> packaged(const std::string &Version, const std::string &Type = "ET_REL") {
  Image I;
  I.Type = Type;
  I.Sections = {notes(".note.offload", {version(Version), count("1"), aux(auxRecord("0", "1", "", ""))}),
                progbits("__openmp_offload_spirv_0", "spirv")};
  return build(I);
}

std::vector<uint8_t> bytes(const std::string &Text) {
  return std::vector<uint8_t>(Text.begin(), Text.end());
}

const std::string Plugin = "Target OPENCL RTL --> ";
const std::string Common = "TARGET ELF Common --> ";
const std::string NotPackaged = Plugin + "Target binary is *not* a valid Quvela OpenMP image.\n";
const std::string NoElfHandle = Plugin + "Warning: unable to get ELF handle: LLVM ELF error!\n";

} // namespace

TEST(ImageRecognition, ValidBinaryAtEachLevel) {
  std::vector<uint8_t> V10 = packaged("1.0"), V11 = packaged("1.1");
  std::vector<uint8_t> SpirvHost = bytes(std::string("\x03\x02\x23\x07rest", 8));
  std::vector<uint8_t> SpirvSwapped = bytes(std::string("\x07\x23\x02\x03rest", 8));
  std::vector<uint8_t> Zero = bytes(std::string("\0\0\0\0rest", 8));
  std::vector<uint8_t> Three = bytes(std::string("\x03\x02\x23", 3));
  ASSERT_FALSE(V10.empty());
  struct Case {
    const char *Title;
    std::vector<uint8_t> *Bytes; // null: a null descriptor
    int32_t Valid;
    std::string Stderr; // at level 1
  } Cases[] = {
      {"version 1.0", &V10, 1, Plugin + "Target binary is a valid Quvela OpenMP image.\n"},
      {"version 1.1", &V11, 0, NotPackaged + Plugin + "Target binary is INVALID\n"},
      {"SPIR-V", &SpirvHost, 1, NoElfHandle + NotPackaged + Plugin + "Target binary is VALID\n"},
      {"SPIR-V swapped", &SpirvSwapped, 1,
       NoElfHandle + NotPackaged + Plugin + "Target binary is VALID\n"},
      {"zero word", &Zero, 0, NoElfHandle + NotPackaged + Plugin + "Target binary is INVALID\n"},
      {"three bytes", &Three, 0, NoElfHandle + NotPackaged + Plugin + "Target binary is INVALID\n"},
      {"null descriptor", nullptr, 0,
       NoElfHandle + NotPackaged + Plugin + "Target binary is INVALID\n"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    for (const char *Level : {"1", static_cast<const char *>(nullptr)}) {
      ChildResult R = withPlugin(Level, [&C](const EntryPoints &E) {
        DeviceImage Image{};
        if (C.Bytes)
          Image = imageOf(*C.Bytes);
        std::printf("%d\n", E.IsValid(C.Bytes ? &Image : nullptr));
      });
      EXPECT_EQ(R.ExitStatus, 0);
      EXPECT_EQ(R.Stdout, std::to_string(C.Valid) + "\n");
      EXPECT_EQ(R.Stderr, Level ? C.Stderr : "");
    }
  }
}

TEST(ImageRecognition, ShortAndReversedRangesAreNotRead) {
  // The image's last byte ends a readable page; the next page cannot be touched.
  ChildResult R = withPlugin("1", [](const EntryPoints &E) {
    long Page = sysconf(_SC_PAGESIZE);
    char *Map = static_cast<char *>(
        mmap(nullptr, 2 * Page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(Map + Page, Page, PROT_NONE);
    for (size_t Size : {0, 1, 2, 3}) {
      char *Begin = Map + Page - Size;
      std::memcpy(Begin, "\x03\x02\x23", Size);
      DeviceImage Image{Begin, Begin + Size, nullptr, nullptr};
      std::printf("%zu: %d %d %d\n", Size, E.IsValid(&Image), E.CheckMachine(&Image, 0),
                  E.IsDynamic(&Image));
    }
    // An even address, as the ELF reader wants, for the reversed range.
    static const char Elf[16] = "\x7f" "ELF";
    DeviceImage Reversed{const_cast<char *>(Elf + 8), const_cast<char *>(Elf), nullptr, nullptr};
    std::printf("reversed: %d %d %d\n", E.IsValid(&Reversed), E.CheckMachine(&Reversed, 0),
                E.IsDynamic(&Reversed));
    std::printf("null: %d %d\n", E.CheckMachine(nullptr, 0), E.IsDynamic(nullptr));
  });
  EXPECT_EQ(R.Signal, 0);
  EXPECT_EQ(R.Stdout, "0: 0 0 0\n1: 0 0 0\n2: 0 0 0\n3: 0 0 0\nreversed: 0 0 0\nnull: 0 0\n")
      << R.Stderr;
}

TEST(ImageRecognition, MachineTypeAndLLVMNotes) {
  Image I;
  I.Machine = "EM_X86_64"; // 62
  I.Sections = {
      notes(".note.llvm", {{"LLVMOMPOFFLOAD", 1, "1.0"},
                           {"OTHER", 2, "not reported"},
                           {"LLVMOMPOFFLOAD", 2, "LLVM"},
                           {"LLVMOMPOFFLOAD", 9, "x"}}),
      rawNotes(".note.llvm8", {{"LLVMOMPOFFLOAD", 3, "15.0.6"}, {"LLVMOMPOFFLOAD", 1, ""}}, 8,
               false, 8),
      notes(".note.odd", {{"LLVMOMPOFFLOAD", 2, "skipped"}}, 2),
      notes(".note.offload", {version("1.0")})};
  std::vector<uint8_t> Llvm = build(I);
  I.Type = "ET_DYN";
  std::vector<uint8_t> Shared = build(I);
  I.Type = "ET_EXEC";
  I.Is64 = false;
  I.BigEndian = true;
  I.Sections = {};
  std::vector<uint8_t> Exec32 = build(I);
  ASSERT_FALSE(Llvm.empty() || Shared.empty() || Exec32.empty());
  std::vector<uint8_t> BadClass = Llvm;
  BadClass[4] = 3; // EI_CLASS: neither 32- nor 64-bit
  std::vector<uint8_t> Spirv = bytes(std::string("\x03\x02\x23\x07rest", 8));

  const std::string Report = Common + "LLVMOMPOFFLOAD ELF note NT_LLVM_OPENMP_OFFLOAD_VERSION with value: '1.0'\n" +
                             Common + "LLVMOMPOFFLOAD ELF note NT_LLVM_OPENMP_OFFLOAD_PRODUCER with value: 'LLVM'\n" +
                             Common + "LLVMOMPOFFLOAD ELF note with unknown type 9.\n" +
                             Common + "LLVMOMPOFFLOAD ELF note NT_LLVM_OPENMP_OFFLOAD_PRODUCER_VERSION with value: '15.0.6'\n" +
                             Common + "LLVMOMPOFFLOAD ELF note NT_LLVM_OPENMP_OFFLOAD_VERSION with value: ''\n";
  struct Case {
    const char *Title;
    std::function<int32_t(const EntryPoints &)> Call;
    int32_t Result;
    std::string Stderr; // at level 1; "*" + text: only that line at the start
  } Cases[] = {
      {"machine matches", [&](const EntryPoints &E) { DeviceImage D = imageOf(Llvm); return E.CheckMachine(&D, 62); },
       1, Report},
      {"machine differs", [&](const EntryPoints &E) { DeviceImage D = imageOf(Llvm); return E.CheckMachine(&D, 3); },
       0, Report},
      {"machine of 32-bit big-endian", [&](const EntryPoints &E) { DeviceImage D = imageOf(Exec32); return E.CheckMachine(&D, 62); },
       1, ""},
      {"machine of SPIR-V", [&](const EntryPoints &E) { DeviceImage D = imageOf(Spirv); return E.CheckMachine(&D, 62); },
       0, Common + "Not an ELF image!\n" + Common + "Not an ELF image!\n"},
      {"machine of broken class", [&](const EntryPoints &E) { DeviceImage D = imageOf(BadClass); return E.CheckMachine(&D, 62); },
       0, "*" + Common + "Unable to get ELF handle: "},
      {"shared object", [&](const EntryPoints &E) { DeviceImage D = imageOf(Shared); return E.IsDynamic(&D); },
       1, Common + "ELF Type: 3\n"},
      {"relocatable", [&](const EntryPoints &E) { DeviceImage D = imageOf(Llvm); return E.IsDynamic(&D); },
       0, Common + "ELF Type: 1\n"},
      {"executable", [&](const EntryPoints &E) { DeviceImage D = imageOf(Exec32); return E.IsDynamic(&D); },
       0, Common + "ELF Type: 2\n"},
      {"dynamic SPIR-V", [&](const EntryPoints &E) { DeviceImage D = imageOf(Spirv); return E.IsDynamic(&D); },
       0, Common + "Not an ELF image!\n"},
      {"dynamic broken class", [&](const EntryPoints &E) { DeviceImage D = imageOf(BadClass); return E.IsDynamic(&D); },
       0, "*" + Common + "Unable to get ELF handle: "},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    for (const char *Level : {"1", static_cast<const char *>(nullptr)}) {
      ChildResult R = withPlugin(Level, [&C](const EntryPoints &E) { std::printf("%d\n", C.Call(E)); });
      EXPECT_EQ(R.Stdout, std::to_string(C.Result) + "\n");
      if (!Level)
        EXPECT_EQ(R.Stderr, "");
      else if (!C.Stderr.empty() && C.Stderr[0] == '*')
        EXPECT_EQ(R.Stderr.rfind(C.Stderr.substr(1), 0), 0u) << R.Stderr;
      else
        EXPECT_EQ(R.Stderr, C.Stderr);
    }
  }
}
