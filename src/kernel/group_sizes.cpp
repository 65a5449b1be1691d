#include "kernel/group_sizes.h"

#include "frame/cl_call.h"
#include "frame/debug.h"

#include <algorithm>
#include <limits>

namespace {

// PCI device-id families (low byte cleared) of the GPUs whose cross-team reductions use the
// reduction subscription rate.
constexpr uint32_t ReductionListedFamilies[] = {0x0B00, 0x3E00, 0x4900, 0x5600, 0x7D00};

constexpr uint64_t Max32 = std::numeric_limits<uint32_t>::max();

uint64_t ceilDiv(uint64_t A, uint64_t B) { return A / B + (A % B != 0); }

// A product that stops at the largest value instead of wrapping: a bound that large binds nothing.
uint64_t mulSaturated(uint64_t A, uint64_t B) {
  uint64_t Product;
  return __builtin_mul_overflow(A, B, &Product) ? UINT64_MAX : Product;
}

bool attributeQuery(const GroupSizeInputs &In) {
  return In.Extensions->DeviceAttributeQuery == ExtensionSupported;
}

// Hardware threads of the device as teams mode models them.
struct HardwareModel {
  uint64_t Subslices, EUsPerSubslice, ThreadsPerEU;
};

HardwareModel hardwareModel(const GroupSizeInputs &In) {
  const DevicePropertiesTy &P = *In.Properties;
  if (In.Option->DeviceType != DeviceTypeGPU)
    return {9, 8, 7};
  if (attributeQuery(In))
    return {uint64_t(P.NumSlices) * P.NumSubslicesPerSlice, P.NumEUsPerSubslice,
            P.NumThreadsPerEU};
  if (P.NumEUs >= 256)
    return {P.NumEUs / 16u, 16, 8};
  if (In.Arch == 2)
    return {P.NumEUs / 16u, 16, 7};
  if (P.NumEUs <= 71)
    return {P.NumEUs < 18 ? 2u : P.NumEUs < 48 ? 3u : 6u, P.NumEUs < 24 ? 6u : 8u, 7};
  return {9, 8, 7};
}

// Iterations of Lb..Ub by Stride, up to 2^64 (every 64-bit value by 1), so kept in 128 bits; 0 for
// an empty loop. A stride below 1 describes no loop the host runtime makes and gives no count
// either (0, rather than dividing by zero or going backwards): teams mode then sets no trip-count
// bound, and ND-range mode launches the single work-item of an empty loop.
unsigned __int128 tripCount(const LoopLevel &L) {
  if (L.Ub < L.Lb || L.Stride < 1)
    return 0;
  return static_cast<unsigned __int128>((__int128(L.Ub) - L.Lb + L.Stride) / L.Stride);
}

const KernelInfoTy *lookUpInfo(const GroupSizeInputs &In) {
  if (!In.Info)
    DP("Warning: Cannot find kernel information for kernel 0x%0*llx.\n", 16,
       static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(In.KernelHandle)));
  return In.Info;
}

// The team size steps shared by both modes.
struct TeamSizeChoice {
  uint64_t TeamSize;
  bool Fixed;
};

TeamSizeChoice chooseTeamSize(const GroupSizeInputs &In, uint64_t Width) {
  const KernelProperty &KP = *In.Kernel;
  DP("Assumed kernel SIMD width is %zu\n", KP.SIMDWidth);
  DP("Preferred team size is multiple of %zu\n", KP.Width);
  uint64_t MaxGroupSize = KP.SIMDWidth == 1 ? uint64_t(In.Properties->NumEUsPerSubslice) *
                                                  In.Properties->NumThreadsPerEU
                                            : In.Properties->MaxWorkGroupSize;
  // Without the attribute query the hardware numbers are 0: the device's own limit holds.
  if (MaxGroupSize == 0)
    MaxGroupSize = In.Properties->MaxWorkGroupSize ? In.Properties->MaxWorkGroupSize : Width;
  if (KP.MaxThreadGroupSize != 0 && KP.MaxThreadGroupSize < MaxGroupSize) {
    DP("Capping maximum team size to %zu due to kernel constraints.\n", KP.MaxThreadGroupSize);
    MaxGroupSize = KP.MaxThreadGroupSize;
  }
  TeamSizeChoice C{MaxGroupSize, false};
  if (In.ThreadLimit > 0) {
    C.Fixed = true;
    if (uint64_t(In.ThreadLimit) <= MaxGroupSize) {
      C.TeamSize = In.ThreadLimit;
      DP("Max team size is set to %zu (thread_limit clause)\n", size_t(C.TeamSize));
    } else {
      DP("thread_limit(%u) exceeds current maximum %zu\n", unsigned(In.ThreadLimit),
         size_t(MaxGroupSize));
    }
  }
  int32_t EnvThreadLimit = In.Option->ThreadLimit;
  if (EnvThreadLimit != 0) {
    C.Fixed = true;
    if (uint64_t(EnvThreadLimit) <= C.TeamSize) {
      C.TeamSize = EnvThreadLimit;
      DP("Max team size is set to %zu (OMP_THREAD_LIMIT)\n", size_t(C.TeamSize));
    } else {
      DP("OMP_THREAD_LIMIT(%u) exceeds current maximum %zu\n", unsigned(EnvThreadLimit),
         size_t(C.TeamSize));
    }
  }
  return C;
}

// False when the teams cannot all be launched: their work-items exceed 64 bits.
bool teamsMode(const GroupSizeInputs &In, uint64_t TripCount, TeamSizeChoice Team, uint64_t Width,
               GroupSizes &Out) {
  const KernelInfoTy *Info = lookUpInfo(In);
  const PluginOptions &Opt = *In.Option;
  uint64_t Simd = std::max<uint64_t>(In.Kernel->SIMDWidth, 1);
  bool Listed = isReductionListedFamily(*In.Properties, *In.Extensions);
  bool Reduction = Info && (Info->Attributes & KernelInfoAttrTeamsReduction);
  uint64_t TeamSize = Team.TeamSize;
  uint64_t NumGroups = 0;
  bool GroupsFixed = true;
  int32_t EnvNumTeams = Opt.NumTeams;
  if (In.NumTeams > 0) {
    NumGroups = In.NumTeams;
    DP("Max number of teams is set to %zu (num_teams clause or no teams construct)\n",
       size_t(NumGroups));
  } else if (EnvNumTeams != 0) {
    NumGroups = EnvNumTeams;
    DP("Max number of teams is set to %zu (OMP_NUM_TEAMS)\n", size_t(NumGroups));
  } else {
    GroupsFixed = false;
    HardwareModel Hw = hardwareModel(In);
    uint64_t ThreadsPerSubslice = mulSaturated(Hw.EUsPerSubslice, Hw.ThreadsPerEU);
    if (Opt.DeviceType != DeviceTypeGPU) {
      NumGroups = In.Properties->NumEUs;
    } else if (Team.Fixed) {
      NumGroups = mulSaturated(
          Hw.Subslices, ceilDiv(ThreadsPerSubslice, ceilDiv(std::max<uint64_t>(TeamSize, 1), Simd)));
    } else {
      if (Reduction && Listed && Opt.ReductionSubscriptionRate != 0 && Info->MaxTeamCount == 0)
        TeamSize = Width;
      NumGroups = mulSaturated(Hw.Subslices, ThreadsPerSubslice);
      if (TeamSize >= Width) {
        // The largest multiple of the preferred width (counted down from the team size) whose
        // hardware threads divide a subslice's evenly.
        uint64_t Candidate = TeamSize;
        for (; Candidate >= Width; Candidate -= Width) {
          uint64_t T = ceilDiv(Candidate, Simd);
          if (ThreadsPerSubslice % T == 0) {
            NumGroups = mulSaturated(Hw.Subslices, ThreadsPerSubslice / T);
            break;
          }
        }
        TeamSize = Candidate;
      }
    }
  }
  if (GroupsFixed && !Team.Fixed)
    TeamSize = Width;
  // A failed search leaves a team size below the preferred width, possibly 0: a team needs at
  // least one thread, and the preferred width is the natural size.
  if (TeamSize == 0)
    TeamSize = Width;

  Out.Local[0] = TeamSize;
  if (Info && Info->MaxTeamSize != 0) {
    Out.Local[0] = std::min<uint64_t>(TeamSize, Info->MaxTeamSize);
    DP("Capping maximum team size to %llu due to kernel constraints (reduction).\n",
       static_cast<unsigned long long>(Info->MaxTeamSize));
  }

  if (!GroupsFixed) {
    bool BoundByTripCount = true;
    if (!Reduction || Opt.ReductionSubscriptionRate == 0) {
      NumGroups = mulSaturated(NumGroups, Opt.SubscriptionRate);
    } else if (Listed && !(Info->MaxTeamCount != 0 && Opt.ReductionSubscriptionRateIsDefault)) {
      uint64_t Rate = Opt.ReductionSubscriptionRate;
      NumGroups = Rate <= NumGroups ? NumGroups / Rate : 1;
      BoundByTripCount = false;
    }
    if (BoundByTripCount && TripCount != 0) {
      uint64_t G = ceilDiv(TripCount, Out.Local[0]);
      if (G < NumGroups) {
        DP("Preventing oversubscription using the loop tripcount\n");
        NumGroups = G;
      }
    }
  }
  if (Info && Info->MaxTeamCount != 0) {
    NumGroups = std::min<uint64_t>(NumGroups, Info->MaxTeamCount);
    DP("Capping maximum thread groups count to %llu due to kernel constraints (reduction).\n",
       static_cast<unsigned long long>(Info->MaxTeamCount));
  }
  // A device model with no hardware threads (no compute units reported) still runs one team.
  return !__builtin_mul_overflow(std::max<uint64_t>(NumGroups, 1), Out.Local[0], &Out.Global[0]);
}

// Hardware threads a loop kernel occupies with teams of S work-items; false on overflow.
bool threadsInUse(const uint64_t TripCount[3], uint64_t S, uint64_t W, uint64_t &Threads) {
  uint64_t Groups = ceilDiv(TripCount[0], S);
  return !__builtin_mul_overflow(Groups, TripCount[1], &Threads) &&
         !__builtin_mul_overflow(Threads, TripCount[2], &Threads) &&
         !__builtin_mul_overflow(Threads, ceilDiv(S, W), &Threads);
}

// Halves the team size of a small loop kernel while the hardware threads in use stay below the
// threshold share of the device's, so that more of them work.
uint64_t thinThreads(const GroupSizeInputs &In, const uint64_t TripCount[3], uint64_t TeamSize) {
  const DevicePropertiesTy &P = *In.Properties;
  double AllThreads = double(uint64_t(P.NumSlices) * P.NumSubslicesPerSlice *
                             P.NumEUsPerSubslice * P.NumThreadsPerEU);
  uint64_t Threshold = static_cast<uint64_t>(AllThreads * In.Option->ThinThreadsThreshold);
  uint64_t W = std::max<uint64_t>(In.Kernel->SIMDWidth & 0xFFFFFFFFu, 1);
  uint64_t Threads = 0;
  if (ceilDiv(TripCount[0], TeamSize) > Max32 || TripCount[1] > Max32 || TripCount[2] > Max32 ||
      !threadsInUse(TripCount, TeamSize, W, Threads) || Threads >= Threshold)
    return TeamSize;
  while (TeamSize >= 2) {
    uint64_t C = TeamSize / 2;
    if (ceilDiv(TripCount[0], C) > Max32 || !threadsInUse(TripCount, C, W, Threads) ||
        Threads >= Threshold)
      break;
    TeamSize = C;
  }
  return TeamSize;
}

// False when the loops hold more iterations than a launch can: a trip count or a global size
// beyond 64 bits.
bool ndRangeMode(const GroupSizeInputs &In, TeamSizeChoice Team, uint64_t Width, GroupSizes &Out) {
  int32_t EnvNumTeams = In.Option->NumTeams;
  if (EnvNumTeams != 0)
    DP("OMP_NUM_TEAMS(%u) is ignored\n", unsigned(EnvNumTeams));
  const LoopDescriptor &L = *In.Loops;
  // The host runtime describes at most three loops; anything else is read as far as it is sane.
  uint32_t NumLoops = static_cast<uint32_t>(std::clamp(L.NumLoops, 0, 3));
  uint32_t TeamsDim = L.TeamsDim >= 0 && L.TeamsDim <= 2 ? uint32_t(L.TeamsDim) : 0;
  uint64_t TripCount[3] = {1, 1, 1};
  for (uint32_t I = 0; I < NumLoops; ++I) {
    const LoopLevel &Level = L.Levels[I];
    DP("Loop %u: lower bound = %lld, upper bound = %lld, Stride = %lld\n", I,
       static_cast<long long>(Level.Lb), static_cast<long long>(Level.Ub),
       static_cast<long long>(Level.Stride));
    unsigned __int128 Count = tripCount(Level);
    if (Count > UINT64_MAX)
      return false;
    TripCount[I] = static_cast<uint64_t>(Count);
  }
  uint64_t TeamSize = std::max<uint64_t>(Team.TeamSize, 1);
  uint64_t Local[3] = {TeamSize, 1, 1};
  uint64_t Groups[3] = {1, 1, 1};
  if (std::find(TripCount, TripCount + 3, 0) != TripCount + 3) {
    Local[0] = 1;
    if (TeamsDim > 0 && TripCount[TeamsDim] != 0)
      Groups[TeamsDim] = TripCount[TeamsDim];
  } else {
    bool Suggested = false;
    if (!Team.Fixed) {
      size_t GlobalSizes[3] = {TripCount[0], TripCount[1], TripCount[2]};
      if (TeamsDim > 0) {
        GlobalSizes[TeamsDim - 1] = mulSaturated(GlobalSizes[TeamsDim - 1], GlobalSizes[TeamsDim]);
        GlobalSizes[TeamsDim] = 1;
      }
      size_t SuggestedSizes[3] = {1, 1, 1};
      if ((In.Option->Flags & OptionFlagDriverGroupSizes) && In.Suggest &&
          In.Extensions->GetKernelSuggestedLocalWorkSize == ExtensionSupported) {
        if (CL_CALL_PTR("decideLoopKernelGroupArguments", clGetKernelSuggestedLocalWorkSizeTARNO,
                        In.Suggest, In.Queue, In.KernelHandle, 3, nullptr, GlobalSizes,
                        SuggestedSizes) == CL_SUCCESS) {
          for (int I = 0; I < 3; ++I)
            Local[I] = std::max<size_t>(SuggestedSizes[I], 1);
          Suggested = true;
        }
      }
      if (!Suggested) {
        if (TeamSize > Width)
          TeamSize = Width;
        if (TeamsDim == 0 && attributeQuery(In))
          TeamSize = thinThreads(In, TripCount, TeamSize);
        Local[0] = TeamSize;
      }
    }
    for (uint32_t I = 0; I < NumLoops; ++I) {
      if (I < TeamsDim) {
        Groups[I] = 1;
      } else {
        Local[I] = std::min(Local[I], TripCount[I]);
        Groups[I] = ceilDiv(TripCount[I], Local[I]);
      }
    }
  }
  for (int I = 0; I < 3; ++I) {
    Out.Local[I] = Local[I];
    if (__builtin_mul_overflow(Groups[I], Local[I], &Out.Global[I]))
      return false;
  }
  return true;
}

} // namespace

bool isReductionListedFamily(const DevicePropertiesTy &Properties,
                             const DeviceExtensionsTy &Extensions) {
  if (Extensions.DeviceAttributeQuery != ExtensionSupported)
    return false;
  uint32_t Family = Properties.DeviceId & 0xFF00;
  return std::find(std::begin(ReductionListedFamilies), std::end(ReductionListedFamilies),
                   Family) != std::end(ReductionListedFamilies);
}

bool decideGroupSizes(const GroupSizeInputs &In, GroupSizes &Out) {
  const KernelInfoTy *Info = lookUpInfo(In);
  bool NDRange = false;
  uint64_t TripCount = 0;
  if (In.Loops) {
    if (!Info || Info->Version < 5 || (Info->Attributes & KernelInfoAttrSpecificNDRange)) {
      NDRange = true;
    } else if (!(In.Option->Flags & OptionFlagNDRangeIgnoreTripCount)) {
      DP("Loop desciptor provided but specific ND-range is disabled\n");
      if (In.Loops->NumLoops >= 2) {
        DP("More than 1 loop found (%u), ignoring loop info\n", unsigned(In.Loops->NumLoops));
      } else {
        const LoopLevel &L = In.Loops->Levels[0];
        // Beyond 64 bits no bound is looser than one of 2^64 - 1 iterations.
        TripCount = static_cast<uint64_t>(std::min<unsigned __int128>(tripCount(L), UINT64_MAX));
        // Only a count there is: an empty loop or a stride below 1 has none to show.
        if (L.Ub >= L.Lb && L.Stride >= 1)
          DP("Loop TC = (%lld - %lld + %lld) / %lld = %zu\n", static_cast<long long>(L.Ub),
             static_cast<long long>(L.Lb), static_cast<long long>(L.Stride),
             static_cast<long long>(L.Stride), size_t(TripCount));
      }
    }
  }
  // A preferred multiple of 0 would stall the team-size search; 1 is the neutral multiple.
  uint64_t Width = std::max<uint64_t>(In.Kernel->Width, 1);
  TeamSizeChoice Team = chooseTeamSize(In, Width);
  Out = GroupSizes();
  if (NDRange ? ndRangeMode(In, Team, Width, Out) : teamsMode(In, TripCount, Team, Width, Out))
    return true;
  DP("Error: the work-items of kernel 0x%0*llx exceed the largest global work size\n", 16,
     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(In.KernelHandle)));
  return false;
}
