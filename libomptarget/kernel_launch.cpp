// The compiler's launch of a target region: map the region's data, run its kernel through the
// plugin, unmap. A non-zero result makes the compiler's host fallback run the region.
#include "debug.h"
#include "device_select.h"
#include "offload_policy.h"
#include "omptarget_records.h" // the compiler's kernel-arguments record is the plugin's
#include "runtime.h"
#include "tool_connection.h"
#include "user_mappers.h"

#include <climits>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char *const Construct = "target region";
const char *const Call = "__tgt_target_kernel";

// Teams for the plugin: a value below 0 means the region has no teams construct (one team); 0
// means no num_teams clause (the plugin chooses).
int32_t teamsFor(int32_t Requested) { return Requested < 0 ? 1 : Requested; }

} // namespace

EXPORT int32_t __tgt_target_kernel(void *Loc, int64_t DeviceId, int32_t NumTeams,
                                   int32_t ThreadLimit, void *HostPtr, KernelArgs *Args) {
  // The call site in the program, which a tool knows the region by.
  const void *CodeAddress = __builtin_return_address(0);
  return noThrow("__tgt_target_kernel", int32_t(1), [&]() -> int32_t {
    if (!Args) {
      offloadFailed(Construct, Loc, Call, "no kernel arguments");
      return 1;
    }
    int32_t Device = selectDevice(DeviceId, Construct, Loc, Call);
    if (Device < 0)
      return 1;
    // Declared before the lock: its end callback comes after the lock is released.
    ToolRegionScope ToolRegion;
    std::unique_lock<std::mutex> Guard;
    DeviceState *State = readyDevice(Device, Guard);
    if (!State) {
      offloadFailed(Construct, Loc, Call, "the device could not be made ready");
      return 1;
    }
    RegionKernel Kernel = regionKernel(*State, HostPtr);
    if (!Kernel.Entry) {
      hostMessage("%s: device %d has no kernel for the region; it runs on the host\n",
                  describeConstruct(Construct, Loc).c_str(), Device);
      offloadFailed(Construct, Loc, Call, "the device image holds no kernel for the region");
      return 1;
    }
    ExpandedMapList Expanded;
    MapList List = expandMappers({static_cast<int32_t>(Args->NumArgs), Args->ArgBasePtrs,
                                  Args->ArgPtrs, Args->ArgSizes, Args->ArgTypes, Args->ArgNames},
                                 Args->ArgMappers, Expanded);
    DeviceOps Ops = pluginOps(Device);
    RegionArgs Region;
    Region.Args.push_back({nullptr, 0}); // the launch environment pointer the kernel ignores
    if (mapBegin(State->Mappings, Ops, List, RefKind::Structured, &Region) != 0) {
      freePrivateBuffers(Ops, Region);
      offloadFailed(Construct, Loc, Call, "mapping the region's data failed");
      return 1;
    }
    Guard.unlock();
    ToolRegion.begin(Device, CodeAddress, HostPtr);

    std::vector<void *> Values;
    std::vector<ptrdiff_t> Offsets;
    // A literal is a value, or a device pointer (is_device_ptr): the same map type. OpenCL sets a
    // pointer parameter only through the plugin's pointer call, a value parameter only as a value.
    for (const KernelArgument &A : Region.Args) {
      bool Literal = A.Offset == INT64_MAX;
      size_t Index = Values.size();
      bool ToPointer = Literal && Kernel.PointerParams && Index < Kernel.PointerParams->size() &&
                       (*Kernel.PointerParams)[Index];
      HOST_DP("Argument %zu: %s 0x%llx, offset %lld\n", Index,
              !Literal    ? "device address"
              : ToPointer ? "pointer literal"
                          : "literal",
              (unsigned long long)(uintptr_t)A.Value, (long long)(Literal ? 0 : A.Offset));
      Values.push_back(A.Value);
      Offsets.push_back(ToPointer ? 0 : A.Offset);
    }
    int32_t Teams = teamsFor(NumTeams != 0 ? NumTeams : static_cast<int32_t>(Args->NumTeams[0]));
    int32_t Threads = ThreadLimit > 0 ? ThreadLimit : static_cast<int32_t>(Args->ThreadLimit[0]);
    // The trip count bounds the teams the plugin chooses; a num_teams clause is kept as given.
    LoopDescriptor Loop = {1, 0, {{0, static_cast<int64_t>(Args->Tripcount) - 1, 1}}};
    bool UseLoop =
        Args->Tripcount > 0 && Args->Tripcount <= static_cast<uint64_t>(INT64_MAX) && Teams <= 0;
    HOST_DP("Launching region 0x%llx on device %d: %zu arguments, teams %d, thread limit %d, "
            "trip count %llu\n",
            (unsigned long long)(uintptr_t)HostPtr, Device, Values.size(), Teams, Threads,
            (unsigned long long)Args->Tripcount);
    int32_t Rc = runtimeState().Plugin.run_target_team_nd_region(
        Device, Kernel.Entry, Values.data(), Offsets.data(), static_cast<int32_t>(Values.size()),
        Teams, Threads, UseLoop ? &Loop : nullptr);

    Guard.lock();
    int32_t EndRc = mapEnd(State->Mappings, Ops, List, RefKind::Structured);
    Guard.unlock();
    freePrivateBuffers(Ops, Region);
    if (Rc != 0) {
      hostMessage("%s: the kernel failed on device %d; the region runs on the host\n",
                  describeConstruct(Construct, Loc).c_str(), Device);
      offloadFailed(Construct, Loc, Call, "the kernel launch failed");
      return 1;
    }
    if (EndRc != 0) {
      offloadFailed(Construct, Loc, Call, "unmapping the region's data failed");
      return 1;
    }
    return 0;
  });
}
