// Team and work-group sizing as a pure function: teams mode and ND-range mode over made-up
// devices, kernels, clauses and loop descriptors.
#include "kernel/group_sizes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace {

// The driver suggestion of a test: {4, 2, 1} whatever it is asked.
cl_int CL_API_CALL suggestFourByTwo(cl_command_queue, cl_kernel, cl_uint, const size_t *,
                                    const size_t *, size_t *Local) {
  Local[0] = 4, Local[1] = 2, Local[2] = 1;
  return CL_SUCCESS;
}
cl_int CL_API_CALL suggestFails(cl_command_queue, cl_kernel, cl_uint, const size_t *,
                                const size_t *, size_t *) {
  return CL_OUT_OF_RESOURCES;
}

// A GPU with the attribute query: 1 slice of 6 subslices of 16 EUs of 8 threads; kernels of
// SIMD width 32 preferring multiples of 32, up to 1024 work-items.
struct Launch {
  PluginOptions Option;
  DevicePropertiesTy Properties;
  DeviceExtensionsTy Extensions;
  KernelProperty Kernel;
  std::optional<KernelInfoTy> Info;
  LoopDescriptor Loops{};
  bool HasLoops = false;
  GroupSizeInputs In;

  Launch() {
    Option.SubscriptionRate = 4;
    Properties.NumSlices = 1;
    Properties.NumSubslicesPerSlice = 6;
    Properties.NumEUsPerSubslice = 16;
    Properties.NumThreadsPerEU = 8;
    Properties.NumEUs = 96;
    Properties.MaxWorkGroupSize = 1024;
    Extensions.DeviceAttributeQuery = ExtensionSupported;
    Kernel.Width = 32;
    Kernel.SIMDWidth = 32;
    Kernel.MaxThreadGroupSize = 1024;
  }
  // The CPU device through the layer: sub-groups of 1, multiples of 8, 4096 work-items at most,
  // 2 compute units, no attribute query.
  void cpu() {
    Option.DeviceType = DeviceTypeCPU;
    Option.SubscriptionRate = 1;
    Properties = DevicePropertiesTy();
    Properties.NumEUs = 2;
    Properties.MaxWorkGroupSize = 4096;
    Extensions.DeviceAttributeQuery = ExtensionNotFound;
    Kernel.Width = 8;
    Kernel.SIMDWidth = 1;
    Kernel.MaxThreadGroupSize = 4096;
  }
  void loop(int64_t Lb, int64_t Ub, int64_t Stride = 1) {
    HasLoops = true;
    Loops.Levels[Loops.NumLoops++] = {Lb, Ub, Stride};
  }
  KernelInfoTy &info(uint32_t Version = 5, uint64_t Attributes = 0) {
    Info = KernelInfoTy();
    Info->Version = Version;
    Info->Attributes = Attributes;
    return *Info;
  }
  bool run(GroupSizes &G) {
    In.Option = &Option;
    In.Properties = &Properties;
    In.Extensions = &Extensions;
    In.Kernel = &Kernel;
    In.Info = Info ? &*Info : nullptr;
    In.Loops = HasLoops ? &Loops : nullptr;
    return decideGroupSizes(In, G);
  }
};

struct SizingCase {
  const char *Name;
  std::function<void(Launch &)> Prepare;
  size_t Global[3];
  size_t Local[3];
  bool Refused = false; // no global size can hold the launch
};

TEST(GroupSizes, ChoosesTheNDRange) {
  const SizingCase Cases[] = {
      {"hardware model: 24 teams of 1024, times 4", [](Launch &) {}, {98304, 1, 1}, {1024, 1, 1}},
      {"thread_limit(64)", [](Launch &S) { S.In.ThreadLimit = 64; }, {1536 * 64, 1, 1}, {64, 1, 1}},
      {"thread_limit above the maximum keeps it", [](Launch &S) { S.In.ThreadLimit = 5000; },
       {6 * 4 * 4 * 1024, 1, 1}, {1024, 1, 1}},
      {"OMP_THREAD_LIMIT above the maximum keeps it", [](Launch &S) { S.Option.ThreadLimit = 5000; },
       {6 * 4 * 4 * 1024, 1, 1}, {1024, 1, 1}},
      {"OMP_THREAD_LIMIT below thread_limit wins", [](Launch &S) {
         S.In.ThreadLimit = 256;
         S.Option.ThreadLimit = 128;
       }, {6 * 32 * 4 * 128, 1, 1}, {128, 1, 1}},
      {"num_teams(10): teams of the preferred width, no subscription",
       [](Launch &S) { S.In.NumTeams = 10; }, {320, 1, 1}, {32, 1, 1}},
      {"OMP_NUM_TEAMS", [](Launch &S) { S.Option.NumTeams = 3; }, {96, 1, 1}, {32, 1, 1}},
      {"kernel limit caps the team", [](Launch &S) { S.Kernel.MaxThreadGroupSize = 256; },
       {6 * 16 * 4 * 256, 1, 1}, {256, 1, 1}},
      {"trip count 100 with teams of 64 bounds the teams to 2", [](Launch &S) {
         S.In.ThreadLimit = 64;
         S.info(5).Attributes = 0;
         S.loop(0, 99);
       }, {128, 1, 1}, {64, 1, 1}},
      {"two loops without a specific ND-range: no trip count", [](Launch &S) {
         S.In.ThreadLimit = 64;
         S.info(5);
         S.loop(0, 99);
         S.loop(0, 9);
       }, {1536 * 64, 1, 1}, {64, 1, 1}},
      {"ignoring the trip count", [](Launch &S) {
         S.In.ThreadLimit = 64;
         S.Option.Flags |= OptionFlagNDRangeIgnoreTripCount;
         S.info(5);
         S.loop(0, 99);
       }, {1536 * 64, 1, 1}, {64, 1, 1}},
      {"record limits cap teams and team size", [](Launch &S) {
         S.info(4).MaxTeamCount = 5;
         S.Info->MaxTeamSize = 100;
       }, {500, 1, 1}, {100, 1, 1}},
      {"listed family reduction: teams of the width, fewer teams", [](Launch &S) {
         S.Properties.DeviceId = 0x4912;
         S.Option.ReductionSubscriptionRate = 2;
         S.Option.ReductionSubscriptionRateIsDefault = false;
         S.info(4, KernelInfoAttrTeamsReduction);
       }, {6 * 128 / 2 * 32, 1, 1}, {32, 1, 1}},
      {"reduction outside the listed families keeps the hardware count", [](Launch &S) {
         S.Properties.DeviceId = 0x1234;
         S.info(4, KernelInfoAttrTeamsReduction);
       }, {24 * 1024, 1, 1}, {1024, 1, 1}},
      {"no team size divides a subslice: the preferred width", [](Launch &S) {
         S.Properties.NumEUsPerSubslice = 7;
         S.Properties.NumThreadsPerEU = 1;
         S.Kernel.SIMDWidth = 8;
         S.Properties.MaxWorkGroupSize = 256;
       }, {6 * 7 * 4 * 32, 1, 1}, {32, 1, 1}},
      {"GPU without the attribute query, 24 EUs", [](Launch &S) {
         S.Extensions.DeviceAttributeQuery = ExtensionNotFound;
         S.Properties.NumEUs = 24;
         S.In.ThreadLimit = 64;
       }, {3 * 28 * 4 * 64, 1, 1}, {64, 1, 1}},
      {"CPU device: compute units times the device limit",
       [](Launch &S) { S.cpu(); }, {2 * 4096, 1, 1}, {4096, 1, 1}},
      {"CPU device loop kernel: one work-item per iteration", [](Launch &S) {
         S.cpu();
         S.loop(0, 999);
       }, {1000, 1, 1}, {8, 1, 1}},
      {"ND-range: trip count 10 below a free team size of 16", [](Launch &S) {
         S.Extensions.DeviceAttributeQuery = ExtensionNotFound;
         S.Kernel.Width = 16;
         S.loop(0, 9);
       }, {10, 1, 1}, {10, 1, 1}},
      {"ND-range: Ub below Lb runs one work-item", [](Launch &S) { S.loop(5, 4); }, {1, 1, 1},
       {1, 1, 1}},
      {"ND-range: an empty inner loop keeps the teams of the distributed one", [](Launch &S) {
         S.loop(5, 4);
         S.loop(0, 6);
         S.Loops.TeamsDim = 1;
       }, {1, 7, 1}, {1, 1, 1}},
      {"ND-range 2-D with thread_limit", [](Launch &S) {
         S.In.ThreadLimit = 16;
         S.loop(0, 99);
         S.loop(0, 2);
       }, {112, 3, 1}, {16, 1, 1}},
      {"ND-range: thin threads halve small teams", [](Launch &S) { S.loop(0, 255); },
       {256, 1, 1}, {4, 1, 1}},
      {"ND-range: the driver's suggestion", [](Launch &S) {
         S.Option.Flags |= OptionFlagDriverGroupSizes;
         S.Extensions.GetKernelSuggestedLocalWorkSize = ExtensionSupported;
         S.In.Suggest = suggestFourByTwo;
         S.loop(0, 9);
         S.loop(0, 9);
       }, {12, 10, 1}, {4, 2, 1}},
      {"ND-range: a failed suggestion falls back", [](Launch &S) {
         S.Option.Flags |= OptionFlagDriverGroupSizes;
         S.Extensions.GetKernelSuggestedLocalWorkSize = ExtensionSupported;
         S.Extensions.DeviceAttributeQuery = ExtensionNotFound;
         S.In.Suggest = suggestFails;
         S.loop(0, 99);
       }, {128, 1, 1}, {32, 1, 1}},
      {"ND-range: a zero stride gives no trip count: one work-item",
       [](Launch &S) { S.loop(0, 9, 0); }, {1, 1, 1}, {1, 1, 1}},
      {"ND-range: 2^64 - 1 iterations in teams of 32 exceed the global size",
       [](Launch &S) { S.loop(INT64_MIN + 1, INT64_MAX); }, {}, {}, true},
      {"ND-range: 2^64 iterations exceed the global size",
       [](Launch &S) { S.loop(INT64_MIN, INT64_MAX); }, {}, {}, true},
      {"ND-range: a teams dimension outside the loops is ignored", [](Launch &S) {
         S.Extensions.DeviceAttributeQuery = ExtensionNotFound;
         S.loop(0, 63);
         S.Loops.TeamsDim = 7;
       }, {64, 1, 1}, {32, 1, 1}},
      {"ND-range: more than three loops read three", [](Launch &S) {
         S.Extensions.DeviceAttributeQuery = ExtensionNotFound;
         S.loop(0, 63);
         S.loop(0, 0);
         S.loop(0, 0);
         S.Loops.NumLoops = 9;
       }, {64, 1, 1}, {32, 1, 1}},
      {"a zero preferred width and SIMD width still size", [](Launch &S) {
         S.Kernel.Width = 0;
         S.Kernel.SIMDWidth = 0;
         S.In.NumTeams = 2;
       }, {2, 1, 1}, {1, 1, 1}},
  };
  for (const SizingCase &C : Cases) {
    Launch S;
    C.Prepare(S);
    GroupSizes G;
    bool Sized = S.run(G);
    EXPECT_EQ(Sized, !C.Refused) << C.Name;
    for (int I = 0; Sized && I < 3; ++I) {
      EXPECT_EQ(G.Global[I], C.Global[I]) << C.Name << ", dimension " << I;
      EXPECT_EQ(G.Local[I], C.Local[I]) << C.Name << ", dimension " << I;
      EXPECT_TRUE(G.Local[I] >= 1 && G.Global[I] >= G.Local[I] && G.Global[I] % G.Local[I] == 0)
          << C.Name << ", dimension " << I;
    }
  }
}

// A stride below 1 gives no trip count: teams mode shows none and sets no bound (CTest runs this
// binary at debug level 1).
TEST(GroupSizes, NoTripCountForAStrideBelowOne) {
  Launch S;
  S.In.ThreadLimit = 64;
  S.info(5);
  S.loop(0, 9, 0);
  GroupSizes G;
  testing::internal::CaptureStderr();
  bool Sized = S.run(G);
  std::string Messages = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Sized && G.Global[0] == 1536u * 64) << G.Global[0];
  EXPECT_NE(Messages.find("specific ND-range is disabled"), std::string::npos) << Messages;
  EXPECT_EQ(Messages.find("Loop TC"), std::string::npos) << Messages;
}

TEST(GroupSizes, ListedFamiliesNeedTheAttributeQuery) {
  DevicePropertiesTy P;
  DeviceExtensionsTy E;
  P.DeviceId = 0x4977;
  EXPECT_FALSE(isReductionListedFamily(P, E));
  E.DeviceAttributeQuery = ExtensionSupported;
  EXPECT_TRUE(isReductionListedFamily(P, E));
  P.DeviceId = 0x4A77;
  EXPECT_FALSE(isReductionListedFamily(P, E));
}

} // namespace
