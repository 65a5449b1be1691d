#include "kernel/launch.h"

#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "kernel/group_sizes.h"
#include "memory/data_alloc.h"
#include "profile/trace_timeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The OpenMP runtime's limits (libomp has no header in the installed packages).
extern "C" int omp_get_thread_limit(void);
extern "C" int omp_get_max_teams(void);

void (*LaunchRecordHook)(size_t NumTeams, size_t ThreadsPerTeam) = nullptr;

namespace {

constexpr const char *LaunchOp = "runTargetTeamNDRegion";
// The offset that marks an argument passed as a plain 8-byte value.
constexpr ptrdiff_t ScalarArgOffset = INT64_MAX;
const cl_bool KernelSupportsUSM = CL_TRUE;

// An OpenMP limit as the options keep it: 0 for none (not positive, or the runtime's "infinite").
int32_t limitOrZero(int Value) { return Value <= 0 || Value == 0x7FFFFFFF ? 0 : Value; }

void refreshOpenMPLimits() {
  int ThreadLimit = omp_get_thread_limit();
  int MaxTeams = omp_get_max_teams();
  DeviceInfo->Option.ThreadLimit = limitOrZero(ThreadLimit);
  DeviceInfo->Option.NumTeams = limitOrZero(MaxTeams);
  DP("omp_get_thread_limit() returned %d\n", ThreadLimit);
  DP("omp_get_max_teams() returned %d\n", MaxTeams);
}

int32_t setKernelArguments(int32_t DeviceId, cl_kernel Kernel, const KernelInfoTy *Info,
                           void **TgtArgs, const ptrdiff_t *TgtOffsets, int32_t NumArgs) {
  auto SetPointer = reinterpret_cast<clSetKernelArgMemPointerTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtSetKernelArgMemPointer));
  for (int32_t I = 0; I < NumArgs; ++I) {
    cl_uint Index = static_cast<cl_uint>(I);
    const char *KindName;
    cl_int Rc;
    if (Info && Info->isArgByValue(Index)) {
      KindName = "ByVal";
      Rc = CL_CALL(LaunchOp, clSetKernelArg, Kernel, Index, Info->Args[Index].ArgSize, TgtArgs[I]);
    } else if (TgtOffsets[I] == ScalarArgOffset) {
      KindName = "Scalar";
      void *Arg = TgtArgs[I];
      Rc = CL_CALL(LaunchOp, clSetKernelArg, Kernel, Index, sizeof(Arg), &Arg);
    } else {
      KindName = "Pointer";
      if (!SetPointer) {
        DP("Error: %s:%s is not available\n", LaunchOp, "clSetKernelArgMemPointerTARNO");
        return -1;
      }
      void *Ptr = static_cast<char *>(TgtArgs[I]) + TgtOffsets[I];
      Rc = CL_CALL_PTR(LaunchOp, clSetKernelArgMemPointerTARNO, SetPointer, Kernel, Index, Ptr);
    }
    if (Rc != CL_SUCCESS)
      return -1;
    DP("Kernel %s Arg %d set successfully\n", KindName, I);
  }
  return 0;
}

// The allocations the kernel may reach without an argument pointing at them, and which kinds of
// memory they are (device, host, shared). Duplicates are kept: the driver takes the list as is.
void collectImplicitArguments(int32_t DeviceId, const KernelProperty &KP,
                              std::vector<void *> &Args, bool (&Used)[3]) {
  PluginDeviceInfo &DI = *DeviceInfo;
  if (!DI.Programs[DeviceId].empty()) {
    const ProgramDataTy &Data = DI.Programs[DeviceId].back().ProgramData;
    for (uint64_t Address : {Data.DynamicMemoryLB, Data.DynamicMemPool})
      if (Address != 0) {
        Args.push_back(reinterpret_cast<void *>(Address));
        Used[AllocKindDevice] = true;
      }
  }
  AllocationTable &Device = *DI.AllocationTables[DeviceId];
  AllocationTable *Host = DI.singleContext() ? DI.AllocationTables[DI.NumDevices].get() : nullptr;
  for (void *P : KP.ImplicitArgs) {
    if (!P)
      continue;
    if (auto Record = Device.findContaining(P)) {
      Args.push_back(P);
      if (Record->Kind >= 0 && Record->Kind < 3)
        Used[Record->Kind] = true;
    }
    if (Host && Host->findContaining(P)) {
      Args.push_back(P);
      Used[AllocKindHost] = true;
    }
  }
  Device.collectImplicit(Args);
  for (int32_t Kind = 0; Kind < 3; ++Kind)
    if (Device.hasImplicit(Kind))
      Used[Kind] = true;
  if (Host) {
    Host->collectImplicit(Args);
    if (Host->hasImplicit(AllocKindHost))
      Used[AllocKindHost] = true;
  }
}

int32_t passImplicitArguments(int32_t DeviceId, cl_kernel Kernel, KernelProperty &KP) {
  PluginDeviceInfo &DI = *DeviceInfo;
  ImplicitArgsCache &Cache = KP.Implicit;
  // Read before the list is built: a change during the build leaves the cache stale, not wrong.
  uint64_t DeviceGeneration = DI.AllocationTables[DeviceId]->Generation.load(std::memory_order_acquire);
  uint64_t HostGeneration =
      DI.singleContext()
          ? DI.AllocationTables[DI.NumDevices]->Generation.load(std::memory_order_acquire)
          : 0;
  // The newest program's data is settled by the time its count is seen here (see the cache).
  size_t NumPrograms = DI.Programs[DeviceId].size();
  if (!Cache.Valid || Cache.DeviceGeneration != DeviceGeneration ||
      Cache.HostGeneration != HostGeneration || Cache.NumPrograms != NumPrograms) {
    Cache.Args.clear();
    std::fill(std::begin(Cache.Used), std::end(Cache.Used), false);
    collectImplicitArguments(DeviceId, KP, Cache.Args, Cache.Used);
    Cache.DeviceGeneration = DeviceGeneration;
    Cache.HostGeneration = HostGeneration;
    Cache.NumPrograms = NumPrograms;
    Cache.Valid = true;
  }
  if (Cache.Args.empty())
    return 0;
  DP("Calling clSetKernelExecInfo to pass %zu implicit USM arguments to kernel " DPxMOD "\n",
     Cache.Args.size(), DPxPTR(Kernel));
  if (CL_CALL(LaunchOp, clSetKernelExecInfo, Kernel, CL_KERNEL_EXEC_INFO_USM_PTRS_TARNO,
              sizeof(void *) * Cache.Args.size(), Cache.Args.data()) != CL_SUCCESS)
    return -1;
  // Host, device, shared: the order the driver is told in.
  const std::pair<int32_t, cl_uint> Settings[] = {
      {AllocKindHost, CL_KERNEL_EXEC_INFO_INDIRECT_HOST_ACCESS_TARNO},
      {AllocKindDevice, CL_KERNEL_EXEC_INFO_INDIRECT_DEVICE_ACCESS_TARNO},
      {AllocKindShared, CL_KERNEL_EXEC_INFO_INDIRECT_SHARED_ACCESS_TARNO}};
  for (const auto &[Kind, Param] : Settings)
    if (Cache.Used[Kind] && CL_CALL(LaunchOp, clSetKernelExecInfo, Kernel, Param, sizeof(cl_bool),
                                    &KernelSupportsUSM) != CL_SUCCESS)
      return -1;
  return 0;
}

// The kernel's function name; false when the driver cannot say. Checked, a failure is reported as
// the launch's error; otherwise the caller does without the name, silently.
bool queryKernelName(cl_kernel Kernel, bool Checked, std::string &Name) {
  auto Query = [&](size_t Size, void *Value, size_t *SizeRet) {
    return Checked ? CL_CALL(LaunchOp, clGetKernelInfo, Kernel, CL_KERNEL_FUNCTION_NAME, Size,
                             Value, SizeRet)
                   : CL_CALL_LOGGED(clGetKernelInfo, Kernel, CL_KERNEL_FUNCTION_NAME, Size, Value,
                                    SizeRet);
  };
  size_t BufSize = 0;
  if (Query(0, nullptr, &BufSize) != CL_SUCCESS)
    return false;
  if (BufSize != 0) {
    std::vector<char> Buf(BufSize);
    if (Query(Buf.size(), Buf.data(), nullptr) != CL_SUCCESS)
      return false;
    Name.assign(Buf.data(), strnlen(Buf.data(), Buf.size()));
  }
  return true;
}

// Puts the launch on the timeline under the name the profile got, or none.
void traceKernel(TimelineSpan &Span, int32_t DeviceId, std::string Name, cl_event Event,
                 const GroupSizes &Sizes) {
  TimelineEvent Launch;
  Launch.Kind = TimelineKind::Kernel;
  Launch.DeviceId = DeviceId;
  Launch.Name = std::move(Name);
  std::copy(Sizes.Global, Sizes.Global + 3, Launch.Global);
  std::copy(Sizes.Local, Sizes.Local + 3, Launch.Local);
  recordQueueWork(Span, std::move(Launch), Event);
}

} // namespace

void reportLaunchError(const char *Message) {
  if (readDebugLevel())
    debugMessage("%s", Message);
  else
    std::fprintf(stderr, "OPENCL error: %s", Message);
}

const KernelInfoTy *findKernelInfo(int32_t DeviceId, cl_kernel Kernel) {
  for (const OpenCLProgramTy &Program : DeviceInfo->Programs[DeviceId]) {
    auto It = Program.KernelInfo.find(Kernel);
    if (It != Program.KernelInfo.end())
      return &It->second;
  }
  return nullptr;
}

int32_t runTargetTeamNDRegion(int32_t DeviceId, cl_kernel Kernel, void **TgtArgs,
                              ptrdiff_t *TgtOffsets, int32_t NumArgs, int32_t NumTeams,
                              int32_t ThreadLimit, const LoopDescriptor *Loops) {
  if (!Kernel) {
    reportLaunchError("Failed to invoke deleted kernel.\n");
    return -1;
  }
  if (NumArgs < 0 || (NumArgs > 0 && (!TgtArgs || !TgtOffsets))) {
    DP("Error: %s: %d arguments without argument or offset arrays\n", LaunchOp, NumArgs);
    return -1;
  }
  PluginDeviceInfo &DI = *DeviceInfo;
  refreshOpenMPLimits();

  const KernelInfoTy *Info = findKernelInfo(DeviceId, Kernel);
  KernelProperty *KP;
  {
    // Map entries never move; other launches may be adding entries for other kernels.
    std::lock_guard<std::mutex> Guard(DI.Mutexes[DeviceId]);
    KP = &DI.KernelProperties[DeviceId][Kernel];
  }
  GroupSizeInputs In;
  In.Option = &DI.Option;
  In.Properties = &DI.DeviceProperties[DeviceId];
  In.Extensions = &DI.Extensions[DeviceId];
  In.Arch = DI.DeviceArchs[DeviceId];
  In.Kernel = KP;
  In.Info = Info;
  In.KernelHandle = Kernel;
  In.NumTeams = NumTeams;
  In.ThreadLimit = ThreadLimit;
  In.Loops = Loops;
  In.Suggest = reinterpret_cast<clGetKernelSuggestedLocalWorkSizeTARNO_fn>(
      DI.extensionFunction(DeviceId, ExtGetKernelSuggestedLocalWorkSize));
  In.Queue = DI.Queues[DeviceId];
  GroupSizes Sizes;
  if (!decideGroupSizes(In, Sizes))
    return -1;
  DP("Team sizes = {%zu, %zu, %zu}\n", Sizes.Local[0], Sizes.Local[1], Sizes.Local[2]);
  DP("Number of teams = {%zu, %zu, %zu}\n", Sizes.Global[0] / Sizes.Local[0],
     Sizes.Global[1] / Sizes.Local[1], Sizes.Global[2] / Sizes.Local[2]);

  cl_event Event = nullptr;
  TimelineSpan Span;
  {
    // A kernel object holds one set of arguments: binding and enqueue must not interleave with
    // another launch of it, nor with a free of memory it is bound to.
    std::lock_guard<std::mutex> Guard(DI.Mutexes[DeviceId]);
    if (setKernelArguments(DeviceId, Kernel, Info, TgtArgs, TgtOffsets, NumArgs) != 0 ||
        passImplicitArguments(DeviceId, Kernel, *KP) != 0)
      return -1;
    if (LaunchRecordHook)
      LaunchRecordHook((Sizes.Global[0] / Sizes.Local[0]) * (Sizes.Global[1] / Sizes.Local[1]) *
                           (Sizes.Global[2] / Sizes.Local[2]),
                       Sizes.Local[0] * Sizes.Local[1] * Sizes.Local[2]);
    if (CL_CALL(LaunchOp, clEnqueueNDRangeKernel, DI.Queues[DeviceId], Kernel, 3, nullptr,
                Sizes.Global, Sizes.Local, 0, nullptr, &Event) != CL_SUCCESS)
      return -1;
  }
  DP("Started executing kernel.\n");

  int32_t Rc = CL_CALL(LaunchOp, clWaitForEvents, 1, &Event) == CL_SUCCESS ? 0 : -1;
  Span.stop();
  // One name query serves the profile and the timeline: the profile needs the name and fails the
  // launch without it, the timeline only loses it.
  std::string Name;
  if (Rc == 0 && (DI.Option.Flags & OptionFlagProfile)) {
    if (queryKernelName(Kernel, true, Name))
      DI.getProfile(DeviceId).update(("Kernel " + Name).c_str(), Event);
    else
      Rc = -1;
  } else if (Rc == 0 && Span.On) {
    (void)queryKernelName(Kernel, false, Name);
  }
  if (Rc == 0 && Span.On)
    traceKernel(Span, DeviceId, std::move(Name), Event, Sizes);
  CL_CALL_LOGGED(clReleaseEvent, Event);
  if (Rc == 0)
    DP("Successfully finished kernel execution.\n");
  return Rc;
}
