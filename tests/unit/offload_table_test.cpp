// The device's offload table: loading, its validation, what a failed load leaves behind, and
// lookups by name. Messages are checked with the plugin loaded as the host runtime loads it, the
// table itself with the plugin linked into the test.
#include "memory_fake_driver.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#ifdef OFFLOAD_TABLE_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
// Leaks are looked for where a test asks, not at exit.
extern "C" const char *__lsan_default_options() { return "leak_check_at_exit=0"; }
#endif

using namespace memtest;
using namespace progtest;

namespace {

const EnvironmentList Debug = {{"LIBOMPTARGET_DEBUG", "1"}};
const std::string NotLoaded = "Warning: could not load offload table.";

// Loads Manifest with Host's entries on device 0 of the linked plugin and runs Check on the
// program; exit 7 when the load failed.
ChildResult loadLinked(const std::string &Manifest, HostEntries &Host,
                       const std::function<int(OpenCLProgramTy &, TargetTable &,
                                               const fakecl::Client &)> &Check,
                       const std::string &Faults = "") {
  return progtest::loadLinked(
      OneGPU, Manifest, Host,
      [&](OpenCLProgramTy &P, TargetTable *Table, const fakecl::Client &Fake) {
        return Table ? Check(P, *Table, Fake) : 7;
      },
      Faults);
}

// Loads Manifest with Host's entries through the shared plugin at debug level 1; exit 7 when the
// load failed. Body may print what it finds.
ChildResult loadShared(const std::string &Manifest, HostEntries &Host,
                       const LoadedBody &Body = nullptr, const std::string &Faults = "") {
  return progtest::loadShared(OneGPU, Manifest, Host, Debug, Faults, Body);
}

// 1 when heap blocks that nothing points at any more exist now (only with the leak checker).
int leaksFound() {
#ifdef OFFLOAD_TABLE_LEAK_CHECK
  return __lsan_do_recoverable_leak_check() != 0;
#else
  return 0;
#endif
}

std::string text(const void *Address) {
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "%p", Address);
  return Buf;
}

} // namespace

TEST(OffloadTable, SortedTableIsLoadedAndSearchedByWholeNames) {
  const std::string Manifest = "global g 8\n"
                               "entry foo_bar address=0x1000\n"
                               "entry fop address=0x2000 flags=8\n"
                               "entry g size=8 global=g\n";
  HostEntries Host;
  Host.add("fop", 0, 8, reinterpret_cast<void *>(0x5000))
      .add("foo", 0, 8, reinterpret_cast<void *>(0x6000));

  ChildResult Linked = loadLinked(Manifest, Host, [](OpenCLProgramTy &P, TargetTable &,
                                                     const fakecl::Client &Fake) {
    for (const OffloadTableEntry &E : P.OffloadTable)
      std::printf("%s@%s ", E.Base.name, text(E.Base.address).c_str());
    std::printf("\n%s %s %s %s %s %d\n", text(P.lookupOffloadTable("foo", 0)).c_str(),
                text(P.lookupOffloadTable("fop", 0)).c_str(),
                text(P.lookupOffloadTable("foo_bar", 16)).c_str(), // sizes are not compared
                text(P.lookupOffloadTable("a", 0)).c_str(),
                text(P.lookupOffloadTable("h", 0)).c_str(),
                P.lookupOffloadTable("g", 8) == Fake.findGlobal("g"));
    return 0;
  });
  EXPECT_EQ(Linked.ExitStatus, 0) << Linked.Stderr;
  std::vector<std::string> Lines = splitLines(Linked.Stdout);
  ASSERT_EQ(Lines.size(), 2u) << Linked.Stdout;
  EXPECT_EQ(Lines[0].substr(0, Lines[0].find(" g@")), "foo_bar@0x1000 fop@0x2000");
  EXPECT_EQ(Lines[1], "(nil) 0x2000 0x1000 (nil) (nil) 1");

  ChildResult Shared = loadShared(Manifest, Host, [](TargetTable &T, const fakecl_control_v1 &) {
    std::printf("%s %s\n", text(T.EntriesBegin[0].address).c_str(),
                text(T.EntriesBegin[1].address).c_str());
  });
  EXPECT_EQ(Shared.ExitStatus, 0) << Shared.Stderr;
  EXPECT_EQ(Shared.Stdout, "0x2000 (nil)\n");
  for (const std::string &Line :
       {std::string("Device offload table loaded:"), std::string("\t0:\tfoo_bar"),
        std::string("\t1:\tfop"), std::string("\t2:\tg"),
        std::string("Looking up OpenMP global variable 'foo' of size 0 bytes on device 0."),
        std::string("Warning: global variable 'foo' was not found in the offload table."),
        std::string("Global variable 'fop' found in the offload table at position 1.")})
    EXPECT_TRUE(hasLine(Shared.Stderr, Prefix + Line)) << Line << "\n" << Shared.Stderr;
  EXPECT_FALSE(hasLine(Shared.Stderr, Prefix + NotLoaded)) << Shared.Stderr;
}

TEST(OffloadTable, SizeOfTheDeviceTable) {
  const std::string Pair = "global a 4\nglobal b 4\nentry a size=4 global=a\nentry b size=4 global=b\n";
  static const uint32_t Values[3] = {0x11111111, 0x22222222, 0x33333333};
  HostEntries Host;
  Host.add("a", 4, 0, const_cast<uint32_t *>(&Values[0]))
      .add("b", 4, 0, const_cast<uint32_t *>(&Values[1]))
      .add("c", 4, 0, const_cast<uint32_t *>(&Values[2]));
  // Whether each global came from the device table and whether its device copy holds the host
  // value.
  auto Report = [](TargetTable &T, const fakecl_control_v1 &Fake) {
    const char *Names[3] = {"a", "b", "c"};
    for (int I = 0; I < 3; ++I) {
      void *Address = T.EntriesBegin[I].address;
      std::printf("%s:%d%d ", Names[I], Address == Fake.find_global(Names[I], nullptr),
                  Address && std::memcmp(Address, &Values[I], 4) == 0);
    }
    std::printf("\n");
  };

  // 80 bytes for three host entries: the two records are used and the third global allocated.
  ChildResult Short = loadShared(Pair, Host, Report);
  EXPECT_EQ(Short.ExitStatus, 0) << Short.Stderr;
  EXPECT_EQ(Short.Stdout, "a:10 b:10 c:01 \n");
  EXPECT_TRUE(hasLine(Short.Stderr, Prefix + "Warning: number of entries in host and device "
                                             "offload tables mismatch (3 != 2)."))
      << Short.Stderr;
  EXPECT_FALSE(hasLine(Short.Stderr, Prefix + NotLoaded));
  EXPECT_TRUE(hasLine(Short.Stderr, Prefix + "Warning: global variable 'c' allocated. Direct "
                                             "references will not work properly."));

  // A size of 100 bytes: no table, and every global is allocated with the host value.
  ChildResult Odd = loadShared(
      "global __omp_offloading_entries_table_size 8 init=6400000000000000\n" + Pair, Host, Report);
  EXPECT_EQ(Odd.ExitStatus, 0) << Odd.Stderr;
  EXPECT_EQ(Odd.Stdout, "a:01 b:01 c:01 \n");
  for (const std::string &Line :
       {std::string("Warning: offload table size (100) is not a multiple of 40."), NotLoaded,
        std::string("Warning: offload table is not loaded for device 0."),
        std::string("Warning: global variable 'a' allocated. Direct references will not work "
                    "properly.")})
    EXPECT_TRUE(hasLine(Odd.Stderr, Prefix + Line)) << Line << "\n" << Odd.Stderr;

  // Sizes the table does not have: 400 bytes over a table of 80 is never read past its end;
  // 2^40 records are refused before any host memory is set aside for them.
  const std::pair<const char *, std::vector<std::string>> Oversized[] = {
      {"9001000000000000",
       {"Warning: device global variable __omp_offloading_entries_table has 80 bytes, not 400",
        NotLoaded}},
      {"0000000000280000", {"Warning: offload table size (43980465111040) is too large."}},
  };
  for (const auto &[Size, Lines] : Oversized) {
    ChildResult R = loadShared(
        std::string("global __omp_offloading_entries_table_size 8 init=") + Size + "\n" + Pair,
        Host, Report);
    EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
    EXPECT_EQ(R.Stdout, "a:01 b:01 c:01 \n");
    for (const std::string &Line : Lines)
      EXPECT_TRUE(hasLine(R.Stderr, Prefix + Line)) << Line << "\n" << R.Stderr;
  }
}

TEST(OffloadTable, MalformedTablesAreRejectedAndLeaveNothing) {
  struct Case {
    const char *Title;
    std::string Manifest;
    std::vector<std::string> Lines; // the first with the debug prefix, the others without
    std::string Faults = "";
  } Cases[] = {
      {"not sorted",
       "entry b\nentry a\n",
       {"Warning: offload table is not sorted.", "Warning: previous name is 'b'.",
        "Warning:  current name is 'a'."}},
      {"function then variable", "entry x\nentry x size=8\n",
       {"Warning: duplicate names (x) in offload table."}},
      {"variable then function", "entry x size=8\nentry x\n",
       {"Warning: duplicate names (x) in offload table."}},
      {"zero name size", "entry a\nentry b namesize=0\n",
       {"Warning: offload entry (1) with 0 name size."}},
      {"null name", "entry a noname\n", {"Warning: offload entry (0) with invalid name."}},
      {"name size too large", "entry a\nentry abc namesize=6\n",
       {"Warning: offload entry's name has wrong size."}},
      {"name size too small", "entry abc namesize=3\n",
       {"Warning: offload entry's name has wrong size."}},
      {"name size beyond any name", "entry a\nentry b namesize=3000000000\n",
       {"Warning: offload entry (1) with name size 3000000000 above 65536."}},
      {"name copy fails", "entry a\nentry b\n",
       {"Error: loadOffloadTable:clEnqueueMemcpyTARNO failed with error code -5, "
        "CL_OUT_OF_RESOURCES"},
       "fail clEnqueueMemcpyTARNO nth=4 err=-5"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    // A global makes the load look the table up.
    static uint32_t Value = 7;
    HostEntries Host;
    Host.add("v", 4, 0, &Value);

    ChildResult Shared = loadShared(C.Manifest, Host, nullptr, C.Faults);
    EXPECT_EQ(Shared.ExitStatus, 0) << Shared.Stderr;
    EXPECT_TRUE(hasLine(Shared.Stderr, Prefix + C.Lines[0])) << Shared.Stderr;
    for (size_t I = 1; I < C.Lines.size(); ++I)
      EXPECT_TRUE(hasLine(Shared.Stderr, C.Lines[I])) << C.Lines[I] << "\n" << Shared.Stderr;
    EXPECT_TRUE(hasLine(Shared.Stderr, Prefix + NotLoaded)) << Shared.Stderr;
    EXPECT_TRUE(hasLine(Shared.Stderr, Prefix + "Warning: offload table is not loaded for device 0."))
        << Shared.Stderr;

    // The table is empty and no name copy is left behind.
    ChildResult Linked = loadLinked(
        C.Manifest, Host,
        [](OpenCLProgramTy &P, TargetTable &, const fakecl::Client &) {
          std::printf("%zu %d\n", P.OffloadTable.size(), leaksFound());
          return 0;
        },
        C.Faults);
    EXPECT_EQ(Linked.ExitStatus, 0) << Linked.Stderr;
    EXPECT_EQ(Linked.Stdout, "0 0\n") << Linked.Stderr;
  }
}

TEST(OffloadTable, FunctionsMayShareANameButNotWithAVariable) {
  HostEntries Host;
  Host.add("x", 0, 8, reinterpret_cast<void *>(0x5000));
  ChildResult Linked = loadLinked("entry w size=4 address=0x100\n"
                                  "entry x address=0x1000\n"
                                  "entry x address=0x2000\n",
                                  Host, [](OpenCLProgramTy &P, TargetTable &T,
                                           const fakecl::Client &) {
                                    std::printf("%zu %s\n", P.OffloadTable.size(),
                                                text(T.EntriesBegin[0].address).c_str());
                                    return 0;
                                  });
  EXPECT_EQ(Linked.ExitStatus, 0) << Linked.Stderr;
  EXPECT_EQ(Linked.Stdout, "3 0x1000\n");
}
