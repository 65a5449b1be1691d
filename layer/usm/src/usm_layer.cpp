// The shared-memory layer's state and what it gives the shared entry points.
#include "device_caps.h"
#include "layer_entry.h"
#include "usm_state.h"

#include <algorithm>
#include <mutex>

const char kLayerName[] = "omptarget OpenCL unified shared memory layer";

UsmState &usmState() {
  static UsmState *State = new UsmState(); // never destroyed: drivers may call in at exit
  return *State;
}

const std::pair<const void *const, AllocationRecord> *findAllocation(UsmState &State,
                                                                     const void *Ptr) {
  auto It = State.Allocations.upper_bound(Ptr);
  if (It == State.Allocations.begin())
    return nullptr;
  --It;
  auto Start = static_cast<const char *>(It->first);
  if (static_cast<const char *>(Ptr) < Start + It->second.Size)
    return &*It;
  return nullptr;
}

unsigned kindBit(AllocKind Kind) { return 1u << static_cast<unsigned>(Kind); }

void addAllocation(UsmState &State, const void *User, const AllocationRecord &Record) {
  State.Allocations[User] = Record;
  ContextAllocations &Context = State.PerContext[Record.Context];
  std::vector<void *> &Bases = Context.Bases[static_cast<unsigned>(Record.Kind)];
  Bases.insert(std::upper_bound(Bases.begin(), Bases.end(), Record.Base), Record.Base);
  ++Context.Generation;
}

void eraseAllocation(UsmState &State, const void *User) {
  auto It = State.Allocations.find(User);
  if (It == State.Allocations.end())
    return;
  auto Context = State.PerContext.find(It->second.Context);
  if (Context != State.PerContext.end()) {
    std::vector<void *> &Bases = Context->second.Bases[static_cast<unsigned>(It->second.Kind)];
    auto Found = std::lower_bound(Bases.begin(), Bases.end(), It->second.Base);
    if (Found != Bases.end() && *Found == It->second.Base)
      Bases.erase(Found);
    ++Context->second.Generation;
  }
  State.Allocations.erase(It);
}

bool kernelKnown(cl_kernel Kernel) {
  std::shared_lock<std::shared_mutex> Guard(layerState().Lock);
  return usmState().Kernels.count(Kernel) != 0;
}

bool layerServesDevice(const DeviceCaps &Caps) { return layerServesUsm(Caps); }

bool layerHoldsMemory(cl_context Context) {
  std::shared_lock<std::shared_mutex> Guard(layerState().Lock);
  auto It = usmState().PerContext.find(Context);
  if (It == usmState().PerContext.end())
    return false;
  for (const std::vector<void *> &Bases : It->second.Bases)
    if (!Bases.empty())
      return true;
  return false;
}

// A context's allocations live as long as the driver's context may be used: until the
// application's last reference and the last queue, program and kernel in it are gone. They are
// freed after the work still queued in it, without waiting here.
void contextReleased(cl_context Context, const ContextRecord &Record) {
  std::vector<void *> Bases;
  {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    UsmState &State = usmState();
    auto It = State.PerContext.find(Context);
    if (It != State.PerContext.end())
      for (const std::vector<void *> &Kind : It->second.Bases)
        Bases.insert(Bases.end(), Kind.begin(), Kind.end());
    for (auto A = State.Allocations.begin(); A != State.Allocations.end();)
      A = A->second.Context == Context ? State.Allocations.erase(A) : std::next(A);
    State.PerContext.erase(Context);
  }
  if (!Record.Devices.empty())
    freeAfterQueuedWork(Context, Record.Devices.front(), std::move(Bases), Record.Released);
}

void installLayerHooks(cl_icd_dispatch &Table) {
  installTrackingHooks(Table);
  installUsmKernelHooks(Table);
  installUsmProgramHooks(Table);
  installUsmQueryHooks(Table);
}
