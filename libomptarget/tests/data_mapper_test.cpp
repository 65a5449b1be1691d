// The data mapper over sequences of map-type lists on one device: which allocations, copies and
// frees each construct makes, and the reference counts it leaves. The device is a fake that
// records every operation by the host offset it concerns and keeps real memory, so attached
// pointers can be checked by value.
#include "data_mapper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

alignas(8) char Host[256];

size_t offsetOf(const void *P) { return static_cast<const char *>(P) - Host; }
bool inHost(const void *P) { return P >= Host && P < Host + sizeof(Host); }

struct FakeDevice {
  struct Block {
    char *Tgt;
    size_t HostOffset;
    int64_t Size;
  };
  std::vector<std::vector<char>> Memory;
  std::vector<Block> Blocks;
  std::vector<std::string> Events;

  // The host offset whose device copy lies at Tgt.
  size_t hostOffsetOf(const void *Tgt) const {
    for (const Block &B : Blocks)
      if (Tgt >= B.Tgt && Tgt < B.Tgt + B.Size)
        return B.HostOffset + (static_cast<const char *>(Tgt) - B.Tgt);
    return SIZE_MAX;
  }

  DeviceOps ops() {
    DeviceOps Ops;
    Ops.Alloc = [this](int64_t Size, void *HostPtr) -> void * {
      Memory.emplace_back(static_cast<size_t>(Size));
      Blocks.push_back({Memory.back().data(), offsetOf(HostPtr), Size});
      Events.push_back("alloc @" + std::to_string(offsetOf(HostPtr)) + " " + std::to_string(Size));
      return Memory.back().data();
    };
    Ops.Free = [this](void *Tgt) {
      Events.push_back("free @" + std::to_string(hostOffsetOf(Tgt)));
      return 0;
    };
    Ops.Submit = [this](void *Tgt, void *HostPtr, int64_t Size) {
      std::memcpy(Tgt, HostPtr, static_cast<size_t>(Size));
      Events.push_back((inHost(HostPtr) ? "to @" : "attach @") + std::to_string(hostOffsetOf(Tgt)) +
                       " " + std::to_string(Size));
      return 0;
    };
    Ops.Retrieve = [this](void *HostPtr, void *Tgt, int64_t Size) {
      std::memcpy(HostPtr, Tgt, static_cast<size_t>(Size));
      Events.push_back("from @" + std::to_string(offsetOf(HostPtr)) + " " + std::to_string(Size));
      return 0;
    };
    return Ops;
  }
};

enum class Op { Begin, End, Update };
constexpr int64_t Param = MapTargetParam, ToFrom = MapTo | MapFrom;
constexpr int64_t MemberOfFirst = int64_t(1) << 48;

struct MapItem {
  size_t Base; // host offsets
  size_t Begin;
  int64_t Size;
  int64_t Type;
};

struct Step {
  Op Operation;
  RefKind Kind;
  std::vector<MapItem> Items;
  int32_t Rc;
  std::string Events; // "; "-joined
  size_t Checked;     // the host offset whose mapping is checked afterwards
  int Dynamic;        // its dynamic and structured counts, -1 when it must be absent
  int Structured;
};

struct Case {
  const char *Name;
  std::vector<Step> Steps;
  bool PermanentAtZero = false; // a declare-target variable of 32 bytes mapped at offset 0
};

const RefKind S = RefKind::Structured, D = RefKind::Dynamic;

// One step per line reads as the sequence it is.
// clang-format off
const std::vector<Case> Cases = {
    {"target tofrom maps, copies both ways and frees",
     {{Op::Begin, S, {{0, 0, 40, ToFrom | Param}}, 0, "alloc @0 40; to @0 40", 0, 0, 1},
      {Op::End, S, {{0, 0, 40, ToFrom | Param}}, 0, "from @0 40; free @0", 0, -1, -1}}},
    {"enter data keeps data for a region; exit data copies back and frees",
     {{Op::Begin, D, {{0, 0, 40, MapTo}}, 0, "alloc @0 40; to @0 40", 0, 1, 0},
      {Op::Begin, S, {{0, 0, 40, ToFrom | Param}}, 0, "", 0, 1, 1},
      {Op::End, S, {{0, 0, 40, ToFrom | Param}}, 0, "", 0, 1, 0},
      {Op::End, D, {{0, 0, 40, MapFrom}}, 0, "from @0 40; free @0", 0, -1, -1}}},
    {"alloc, release and delete count dynamic references",
     {{Op::Begin, D, {{0, 0, 16, 0}}, 0, "alloc @0 16", 0, 1, 0},
      {Op::Begin, D, {{0, 0, 16, MapTo}}, 0, "", 0, 2, 0},
      {Op::End, D, {{0, 0, 16, 0}}, 0, "", 0, 1, 0},
      {Op::Begin, D, {{0, 0, 16, MapTo}}, 0, "", 0, 2, 0},
      {Op::End, D, {{0, 0, 16, MapDelete | MapFrom}}, 0, "from @0 16; free @0", 0, -1, -1},
      {Op::End, D, {{0, 0, 16, MapDelete}}, 0, "", 0, -1, -1}}},
    {"always copies present data both ways",
     {{Op::Begin, D, {{0, 0, 8, MapTo}}, 0, "alloc @0 8; to @0 8", 0, 1, 0},
      {Op::Begin, S, {{0, 0, 8, MapTo | MapAlways | Param}}, 0, "to @0 8", 0, 1, 1},
      {Op::End, S, {{0, 0, 8, MapFrom | MapAlways | Param}}, 0, "from @0 8", 0, 1, 0}}},
    {"a section inside a mapping reuses it; update copies only the section",
     {{Op::Begin, D, {{0, 0, 64, MapTo}}, 0, "alloc @0 64; to @0 64", 0, 1, 0},
      {Op::Begin, S, {{16, 16, 8, ToFrom | Param}}, 0, "", 0, 1, 1},
      {Op::End, S, {{16, 16, 8, ToFrom | Param}}, 0, "", 0, 1, 0},
      {Op::Update, D, {{16, 16, 8, MapFrom}, {24, 24, 8, MapTo}}, 0, "from @16 8; to @24 8", 0, 1,
       0}}},
    {"a section extending past a mapping fails; what the list mapped before is taken back",
     {{Op::Begin, D, {{0, 0, 16, MapTo}}, 0, "alloc @0 16; to @0 16", 0, 1, 0},
      {Op::Begin, S, {{8, 8, 16, MapTo | Param}}, -1, "", 0, 1, 0},
      {Op::Begin, S, {{0, 0, 8, MapTo | Param}, {32, 32, 8, MapTo}, {0, 0, 32, MapTo}}, -1,
       "alloc @32 8; to @32 8; free @32", 0, 1, 0},
      {Op::Update, D, {{8, 8, 16, MapTo}}, -1, "", 32, -1, -1}}},
    {"update, release and from of unmapped data do nothing",
     {{Op::Update, D, {{0, 0, 8, MapTo}}, 0, "", 0, -1, -1},
      {Op::End, D, {{0, 0, 8, MapFrom}}, 0, "", 0, -1, -1}}},
    {"literals and unmapped zero-length sections move nothing",
     {{Op::Begin, S, {{0, 0, 4, MapLiteral | Param}, {8, 8, 0, MapImplicit | Param}}, 0, "", 8,
       -1, -1}}},
    {"members copy their own bytes within the parent's allocation",
     {{Op::Begin, S, {{0, 0, 32, Param}, {0, 8, 8, ToFrom | MemberOfFirst}}, 0,
       "alloc @0 32; to @8 8", 0, 0, 1},
      {Op::End, S, {{0, 0, 32, Param}, {0, 8, 8, ToFrom | MemberOfFirst}}, 0,
       "from @8 8; free @0", 0, -1, -1}}},
    {"a pointer is attached to a new pointee and its host value survives the copy back",
     {{Op::Begin, D, {{64, 64, 8, MapTo}}, 0, "alloc @64 8; to @64 8", 64, 1, 0},
      {Op::Begin, S, {{128, 128, 16, ToFrom | Param}, {64, 128, 8, MapAttach}}, 0,
       "alloc @128 16; to @128 16; attach @64 8", 128, 0, 1},
      {Op::Update, D, {{64, 64, 8, MapTo}}, 0, "to @64 8; attach @64 8", 64, 1, 0},
      {Op::Begin, S, {{128, 128, 16, ToFrom | Param}, {64, 128, 8, MapAttach}}, 0, "", 128, 0,
       2},
      {Op::End, D, {{64, 64, 8, MapFrom}}, 0, "from @64 8; free @64", 64, -1, -1}}},
    {"an attachment waits for both pointer and pointee",
     {{Op::Begin, S, {{128, 128, 16, ToFrom | Param}, {64, 128, 8, MapAttach}}, 0,
       "alloc @128 16; to @128 16", 64, -1, -1}}},
    {"declare-target variables are never unmapped or recopied",
     {{Op::Begin, S, {{0, 0, 8, ToFrom | Param}}, 0, "", 0, 0, 0},
      {Op::End, D, {{0, 0, 8, MapDelete | MapFrom}}, 0, "", 0, 0, 0},
      {Op::Begin, S, {{0, 0, 8, MapTo | MapAlways | Param}}, 0, "to @0 8", 0, 0, 0}},
     true},
    {"firstprivate aggregates get a private copy the table never sees",
     {{Op::Begin, S, {{0, 0, 24, MapPrivate | MapTo | Param}}, 0, "alloc @0 24; to @0 24", 0,
       -1, -1}}},
};
// clang-format on

void PrintTo(const Case &C, std::ostream *Out) { *Out << C.Name; }

class DataMapperTest : public ::testing::TestWithParam<Case> {};

TEST_P(DataMapperTest, StepsGiveTheirEventsAndCounts) {
  const Case &C = GetParam();
  FakeDevice Device;
  DeviceOps Ops = Device.ops();
  MappingTable Table;
  if (C.PermanentAtZero) {
    MappingEntry Global;
    Global.HostBegin = reinterpret_cast<uintptr_t>(Host);
    Global.HostEnd = Global.HostBegin + 32;
    Global.TgtBegin = reinterpret_cast<uintptr_t>(Ops.Alloc(32, Host));
    Global.Permanent = true;
    insertEntry(Table, Global);
    Device.Events.clear();
  }
  // The host pointer at offset 64 points at offset 128.
  char *Pointee = Host + 128;
  std::memcpy(Host + 64, &Pointee, sizeof(Pointee));

  for (size_t N = 0; N < C.Steps.size(); ++N) {
    const Step &St = C.Steps[N];
    SCOPED_TRACE("step " + std::to_string(N));
    std::vector<void *> Bases, Begins;
    std::vector<int64_t> Sizes, Types;
    for (const MapItem &I : St.Items) {
      Bases.push_back(Host + I.Base);
      Begins.push_back(Host + I.Begin);
      Sizes.push_back(I.Size);
      Types.push_back(I.Type);
    }
    MapList List{static_cast<int32_t>(St.Items.size()),
                 Bases.data(),
                 Begins.data(),
                 Sizes.data(),
                 Types.data(),
                 nullptr};
    Device.Events.clear();
    RegionArgs Region;
    int32_t Rc = St.Operation == Op::Begin ? mapBegin(Table, Ops, List, St.Kind, &Region)
                 : St.Operation == Op::End ? mapEnd(Table, Ops, List, St.Kind)
                                           : mapUpdate(Table, Ops, List);
    EXPECT_EQ(Rc, St.Rc);
    std::string Events;
    for (const std::string &E : Device.Events)
      Events += (Events.empty() ? "" : "; ") + E;
    EXPECT_EQ(Events, St.Events);

    RangeLookup Found = lookupRange(Table, reinterpret_cast<uintptr_t>(Host + St.Checked), 0);
    if (St.Dynamic < 0) {
      EXPECT_EQ(Found.State, RangeState::Absent);
    } else {
      ASSERT_EQ(Found.State, RangeState::Contained);
      EXPECT_EQ(Found.Entry->DynamicRefCount, uint64_t(St.Dynamic));
      EXPECT_EQ(Found.Entry->StructuredRefCount, uint64_t(St.Structured));
    }

    // Every target parameter reaches the kernel: device addresses of mapped data, host values of
    // literals and unmapped sections, private copies of firstprivate data.
    size_t Arg = 0;
    for (const MapItem &I : St.Items) {
      if (St.Operation != Op::Begin || !(I.Type & Param) || Rc != 0)
        continue;
      ASSERT_LT(Arg, Region.Args.size());
      const KernelArgument &A = Region.Args[Arg++];
      RangeLookup M = lookupRange(Table, reinterpret_cast<uintptr_t>(Host + I.Begin), 0);
      if (I.Type & MapLiteral) {
        EXPECT_EQ(A.Value, Host + I.Begin);
        EXPECT_EQ(A.Offset, INT64_MAX);
      } else if (I.Type & MapPrivate) {
        EXPECT_NE(Device.hostOffsetOf(A.Value), SIZE_MAX); // a device buffer
      } else if (M.State == RangeState::Contained) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(A.Value),
                  M.Entry->toDevice(reinterpret_cast<uintptr_t>(Host + I.Begin)));
      } else {
        EXPECT_EQ(A.Value, Host + I.Begin);
      }
    }
    if (St.Operation == Op::Begin && Rc == 0) {
      EXPECT_EQ(Arg, Region.Args.size());
    }
    freePrivateBuffers(Ops, Region);

    // An attached pointer's device copy points at its pointee's device copy.
    RangeLookup Ptr = lookupRange(Table, reinterpret_cast<uintptr_t>(Host + 64), 8);
    RangeLookup Obj = lookupRange(Table, reinterpret_cast<uintptr_t>(Pointee), 16);
    if (Ptr.State == RangeState::Contained && Obj.State == RangeState::Contained &&
        !Ptr.Entry->Shadows.empty()) {
      uintptr_t DeviceValue;
      std::memcpy(&DeviceValue, reinterpret_cast<void *>(Ptr.Entry->TgtBegin), 8);
      EXPECT_EQ(DeviceValue, Obj.Entry->TgtBegin);
    }
  }

  char *HostValue;
  std::memcpy(&HostValue, Host + 64, sizeof(HostValue));
  EXPECT_EQ(HostValue, Pointee);
}

INSTANTIATE_TEST_SUITE_P(MapSequences, DataMapperTest, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<Case> &Info) {
                           return "case" + std::to_string(Info.index);
                         });

TEST(DataMapperDeathTest, PresentModifierOnAbsentDataEndsTheProcess) {
  FakeDevice Device;
  DeviceOps Ops = Device.ops();
  MappingTable Table;
  void *Ptr = Host;
  int64_t Size = 8, Type = MapPresent | MapTo | Param;
  MapList List{1, &Ptr, &Ptr, &Size, &Type, nullptr};
  EXPECT_EXIT(mapBegin(Table, Ops, List, S, nullptr), ::testing::ExitedWithCode(1),
              "is not present on the device");
}

} // namespace
