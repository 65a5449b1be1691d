// The driver's one global state: scenario, fault rules, call record, live objects, scripts.
#pragma once

#include "objects.h"
#include "../fakecl_control.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>

namespace fakecl {

struct FaultRule {
  std::string Function;
  uint64_t Nth = 1;   // the call that fails, counted from installation
  bool Every = false; // every call fails
  bool FromNth = false; // the Nth call and all later ones fail
  cl_int Error = CL_OUT_OF_RESOURCES;
  uint64_t Seen = 0;
};

struct ClockReading {
  cl_ulong Device = 0;
  cl_ulong Host = 0;
};

struct AutoClock {
  cl_ulong Device = 1000000;
  cl_ulong Host = 2000000;
  cl_ulong Step = 1000;
};

struct EventTimes {
  cl_ulong Values[5] = {0, 0, 0, 0, 0}; // QUEUED, SUBMIT, START, END, COMPLETE
};

struct UsmAlloc {
  void *Base = nullptr;
  size_t Size = 0;
  cl_uint Type = MemTypeUnknown;
  cl_uint Alignment = 0;
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
  std::vector<cl_ulong> Properties;
};

struct KernelBody {
  fakecl_kernel_body Fn = nullptr;
  void *User = nullptr;
};

struct State {
  std::recursive_mutex Mutex;

  std::vector<std::unique_ptr<PlatformModel>> Platforms;
  bool Enumerated = false;      // the loader has taken the platform list
  bool PlatformsExplicit = false; // a scenario named its own platforms
  PlatformModel *CurrentPlatform = nullptr;
  DeviceModel *CurrentDevice = nullptr;

  std::vector<FaultRule> Faults;

  // Off ("record off"), calls are neither formatted nor recorded and no exec-info history is
  // kept, so that a benchmark measures its caller rather than this driver.
  bool Recording = true;
  std::vector<std::string> CallLog;
  std::map<std::string, size_t> CallCounts;
  std::FILE *LogFile = nullptr;

  size_t Live[static_cast<int>(ObjectKind::Count)] = {};
  std::unordered_map<const void *, ObjectKind> Handles;

  std::deque<ClockReading> TimerScript;
  AutoClock Clock;
  std::deque<EventTimes> EventScript;
  cl_ulong EventClock = 5000000;
  bool Deferred = false;
  std::string BuildLog;
  // The manifest of programs made from a binary that carries none ("binary-module"), such as
  // the bitcode a layer above this driver builds.
  std::string BinaryModule;
  std::map<std::string, InfoTable> KernelInfoOverrides; // by kernel name
  std::map<std::string, KernelBody> KernelBodies;
  std::map<uintptr_t, UsmAlloc> Allocations; // by base address
  std::vector<ProgramObj *> ExecutablePrograms; // most recent last
  // Released objects are kept, emptied, so that a stale handle still reaches the driver (which
  // answers CL_INVALID_*) instead of crashing the loader, and no new object reuses its address.
  std::vector<std::shared_ptr<void>> Graveyard;
};


State &state();
using Lock = std::lock_guard<std::recursive_mutex>;

// Builds the default layout: one OpenCL 3.0 platform with one GPU device.
void resetPlatforms(State &S);
PlatformModel *addPlatform(State &S);
DeviceModel *addDevice(State &S, PlatformModel &P, cl_device_type Type);
void offerAllVendorFunctions(PlatformModel &P);

// Returns the error code of the first fault rule that fires for this call, or CL_SUCCESS.
cl_int takeFault(State &S, const char *Function);

void recordCall(State &S, const std::string &Line);

void trackObject(State &S, ObjectKind K, const void *Handle);
void untrackObject(State &S, const void *Handle);

bool isLive(const State &S, const void *Handle, ObjectKind K);

// Ends an object's life: its handle stays readable but is no longer live.
template <class T> void retire(State &S, T *Obj) {
  untrackObject(S, &Obj->Handle);
  auto Handle = Obj->Handle;
  Obj->~T();
  new (Obj) T();
  Obj->Handle = Handle;
  S.Graveyard.push_back(std::shared_ptr<void>(Obj, [](void *P) { delete static_cast<T *>(P); }));
}

// Loads the scenario and log file named by the environment, once.
void initFromEnvironment();

} // namespace fakecl
