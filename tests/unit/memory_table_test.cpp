// The allocation table's operations on hand-made records; no driver is involved.
#include "memory/allocation_table.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Addresses only: the table never dereferences what it records.
void *at(uintptr_t Address) { return reinterpret_cast<void *>(Address); }

} // namespace

TEST(AllocationTable, AddKeepsTheFirstRecordButCountsEveryImplicitAdd) {
  AllocationTable T;
  T.add(at(0x1000), at(0x1000), 64, 0, true);
  T.add(at(0x1000), at(0x0F00), 8, 0, true); // same key: the record stays, the count grows
  auto Info = T.find(at(0x1000));
  ASSERT_TRUE(Info);
  EXPECT_EQ(Info->Base, at(0x1000));
  EXPECT_EQ(Info->Size, 64u);
  EXPECT_EQ(T.ImplicitCounts[0], 2);
  AllocationInfo Removed;
  ASSERT_TRUE(T.remove(at(0x1000), Removed));
  EXPECT_EQ(Removed.Size, 64u);
  EXPECT_EQ(T.ImplicitCounts[0], 1);
  EXPECT_FALSE(T.remove(at(0x1000), Removed));
  EXPECT_FALSE(T.find(at(0x1000)));
}

TEST(AllocationTable, RemoveIsByExactKeyOnly) {
  AllocationTable T;
  T.add(at(0x2010), at(0x2000), 32, 0, false);
  AllocationInfo Info;
  for (uintptr_t Interior : {0x2000u, 0x2011u, 0x202Fu})
    EXPECT_FALSE(T.remove(at(Interior), Info)) << std::hex << Interior;
  EXPECT_TRUE(T.remove(at(0x2010), Info));
  EXPECT_EQ(Info.Base, at(0x2000));
  EXPECT_TRUE(T.Allocations.empty());
}

TEST(AllocationTable, FindContainingCoversBaseUpToKeyPlusSize) {
  AllocationTable T;
  EXPECT_FALSE(T.findContaining(at(0x1000))); // empty table
  // [0x1000, 0x1040) keyed at its base; [0x2000, 0x2050) keyed 0x10 above its base;
  // [0x3000, 0x3010) right after a gap.
  T.add(at(0x1000), at(0x1000), 0x40, 0, false);
  T.add(at(0x2010), at(0x2000), 0x40, 2, false);
  T.add(at(0x3000), at(0x3000), 0x10, 1, false);
  struct Case {
    uintptr_t Ptr;
    uintptr_t Key; // 0: none
  } Cases[] = {
      {0x0FFF, 0},      {0x1000, 0x1000}, {0x103F, 0x1000}, {0x1040, 0},
      {0x1FFF, 0},      {0x2000, 0x2010}, // below its key, at its base
      {0x200F, 0x2010}, {0x2010, 0x2010}, {0x204F, 0x2010}, {0x2050, 0},
      {0x3000, 0x3000}, {0x300F, 0x3000}, {0x3010, 0},      {~uintptr_t(0), 0},
  };
  for (const Case &C : Cases) {
    auto Info = T.findContaining(at(C.Ptr));
    SCOPED_TRACE(testing::Message() << std::hex << C.Ptr);
    if (!C.Key) {
      EXPECT_FALSE(Info);
      continue;
    }
    ASSERT_TRUE(Info);
    EXPECT_EQ(Info->Base, T.Allocations.at(C.Key).Base);
  }
}

TEST(AllocationTable, ReachesComparesTheRangeEndWithTheRecordAtOrBelow) {
  AllocationTable T;
  EXPECT_FALSE(T.reaches(at(0x1000), 1));
  T.add(at(0x1010), at(0x1000), 0x20, 0, false); // key 0x1010, ends at 0x1030
  struct Case {
    uintptr_t Ptr;
    uint64_t Size;
    bool Reaches;
  } Cases[] = {
      {0x1010, 0x20, true},  // the whole record
      {0x1020, 0x10, true},  // ends exactly at key + size
      {0x1020, 0x11, false}, // one byte beyond
      {0x1008, 0x08, false}, // below the key: no record at or below
      {0x1040, 0x01, false}, // after the record
      {0x1020, ~uint64_t(0) - 0x100, false}, // an end beyond the address space
  };
  for (const Case &C : Cases)
    EXPECT_EQ(T.reaches(at(C.Ptr), C.Size), C.Reaches) << std::hex << C.Ptr << " " << C.Size;
}

TEST(AllocationTable, ImplicitKindsAndCollectionInKeyOrder) {
  AllocationTable T;
  for (int32_t Kind : {0, 1, 2, 3})
    EXPECT_FALSE(T.hasImplicit(Kind));
  T.add(at(0x5000), at(0x5000), 8, 2, true);
  T.add(at(0x3000), at(0x3000), 8, 0, false);
  T.add(at(0x1000), at(0x1000), 8, 1, true);
  EXPECT_FALSE(T.hasImplicit(0)); // only non-implicit device memory
  EXPECT_TRUE(T.hasImplicit(1));
  EXPECT_TRUE(T.hasImplicit(2));
  EXPECT_TRUE(T.hasImplicit(3));
  std::vector<void *> Keys{at(0x42)}; // appended to, not replaced
  T.collectImplicit(Keys);
  EXPECT_EQ(Keys, (std::vector<void *>{at(0x42), at(0x1000), at(0x5000)}));
  AllocationInfo Info;
  T.remove(at(0x1000), Info);
  T.remove(at(0x5000), Info);
  EXPECT_FALSE(T.hasImplicit(3)); // counts back at zero
}

// The chunked index against an ordered map through many chunk splits and emptied chunks: every
// lookup answers what the map answers.
TEST(AllocationTable, AddressIndexAgreesWithAnOrderedMap) {
  AddressIndex<int> Index;
  std::map<uintptr_t, int> Map;
  uint64_t Seed = 12345;
  auto Next = [&Seed] { return Seed = Seed * 6364136223846793005ull + 1442695040888963407ull; };
  for (int Step = 0; Step < 20000; ++Step) {
    uintptr_t Key = (Next() >> 40) % 4096 * 16;
    int Removed = 0;
    if (Next() % 3 == 0)
      EXPECT_EQ(Index.erase(Key, Removed), Map.erase(Key) == 1) << Key;
    else
      EXPECT_EQ(Index.insert(Key, Step), Map.emplace(Key, Step).second) << Key;
    uintptr_t P = (Next() >> 40) % 4200 * 16 + Step % 3;
    auto Up = Map.upper_bound(P);
    auto Below = Index.atOrBelow(P), Above = Index.above(P);
    ASSERT_EQ(bool(Below), Up != Map.begin()) << P;
    if (Below) {
      EXPECT_EQ(Below.Key, std::prev(Up)->first);
    }
    ASSERT_EQ(bool(Above), Up != Map.end()) << P;
    if (Above) {
      EXPECT_EQ(*Above.Val, Up->second);
    }
  }
  EXPECT_EQ(Index.size(), Map.size());
  EXPECT_GT(Index.Chunks.size(), 8u); // the test went through splits
}
