// The shared-memory layer's state and what it gives the shared entry points.
#include "device_caps.h"
#include "layer_entry.h"
#include "usm_state.h"

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

void addAllocation(UsmState &State, const void *User, const AllocationRecord &Record) {
  State.Allocations[User] = Record;
  ++State.AllocationGeneration;
}

void eraseAllocation(UsmState &State, const void *User) {
  State.Allocations.erase(User);
  ++State.AllocationGeneration;
}

bool kernelKnown(cl_kernel Kernel) {
  std::lock_guard<std::mutex> Guard(layerState().Lock);
  return usmState().Kernels.count(Kernel) != 0;
}

bool layerServesDevice(const DeviceCaps &Caps) { return layerServesUsm(Caps); }

// Allocations die with their context (the driver could not free them later): after the work
// still queued in the context, which may use them, and while the context is still held.
void contextReleased(cl_context Context) {
  std::vector<void *> Orphans;
  {
    std::lock_guard<std::mutex> Guard(layerState().Lock);
    UsmState &State = usmState();
    for (auto &[User, Record] : State.Allocations)
      if (Record.Context == Context)
        Orphans.push_back(const_cast<void *>(User));
    for (void *&Ptr : Orphans) { // user pointers become the driver's bases
      void *Base = State.Allocations[Ptr].Base;
      eraseAllocation(State, Ptr);
      Ptr = Base;
    }
    for (unsigned Kinds = 0; Kinds < 8; ++Kinds)
      State.PointerLists.erase({Context, Kinds});
  }
  // The context goes whatever happens: its memory is freed even when waiting failed.
  if (!Orphans.empty())
    finishContextQueues(Context);
  for (void *Base : Orphans)
    gNext.clSVMFree(Context, Base);
}

void installLayerHooks(cl_icd_dispatch &Table) {
  installTrackingHooks(Table);
  installUsmKernelHooks(Table);
  installUsmQueryHooks(Table);
}
