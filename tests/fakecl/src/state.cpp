#include "state.h"
#include "scenario.h"

#include <cstdlib>
#include <cstring>

namespace fakecl {

State &state() {
  // Never destroyed: the loader may call into the driver during process exit.
  static State *S = new State();
  return *S;
}

const char *objectKindName(ObjectKind K) {
  switch (K) {
  case ObjectKind::Context: return "context";
  case ObjectKind::Queue: return "queue";
  case ObjectKind::Program: return "program";
  case ObjectKind::Kernel: return "kernel";
  case ObjectKind::Event: return "event";
  case ObjectKind::Usm: return "usm";
  case ObjectKind::Count: break;
  }
  return "?";
}

void offerAllVendorFunctions(PlatformModel &P) {
  for (const char *Name : VendorFunctionNames)
    P.ExtensionFunctions[Name] = vendorFunction(Name);
}

PlatformModel *addPlatform(State &S) {
  auto P = std::make_unique<PlatformModel>();
  P->Handle.dispatch = dispatchTable();
  P->Handle.Obj = P.get();
  P->Index = static_cast<unsigned>(S.Platforms.size());
  setDefaultPlatformInfo(*P);
  offerAllVendorFunctions(*P);
  S.Platforms.push_back(std::move(P));
  S.CurrentPlatform = S.Platforms.back().get();
  S.CurrentDevice = nullptr;
  return S.CurrentPlatform;
}

DeviceModel *addDevice(State &S, PlatformModel &P, cl_device_type Type) {
  auto D = std::make_unique<DeviceModel>();
  D->Handle.dispatch = dispatchTable();
  D->Handle.Obj = D.get();
  D->Platform = &P;
  D->Type = Type;
  P.Devices.push_back(std::move(D));
  DeviceModel *Dev = P.Devices.back().get();
  setDefaultDeviceInfo(*Dev, static_cast<unsigned>(P.Devices.size() - 1));
  S.CurrentPlatform = &P;
  S.CurrentDevice = Dev;
  return Dev;
}

void resetPlatforms(State &S) {
  // Handles the loader holds stay valid: once enumerated the layout is kept.
  if (S.Enumerated)
    return;
  S.Platforms.clear();
  S.PlatformsExplicit = false;
  PlatformModel *P = addPlatform(S);
  addDevice(S, *P, CL_DEVICE_TYPE_GPU);
}

cl_int takeFault(State &S, const char *Function) {
  cl_int Result = CL_SUCCESS;
  for (FaultRule &R : S.Faults) {
    if (R.Function != Function)
      continue;
    ++R.Seen;
    bool Fires = R.Every || (R.FromNth ? R.Seen >= R.Nth : R.Seen == R.Nth);
    if (Fires && Result == CL_SUCCESS)
      Result = R.Error;
  }
  return Result;
}

void recordCall(State &S, const std::string &Line) {
  if (!S.Recording)
    return;
  S.CallLog.push_back(Line);
  size_t Paren = Line.find('(');
  ++S.CallCounts[Line.substr(0, Paren)];
  if (S.LogFile) {
    std::fputs(Line.c_str(), S.LogFile);
    std::fputc('\n', S.LogFile);
    std::fflush(S.LogFile);
  }
}

void trackObject(State &S, ObjectKind K, const void *Handle) {
  S.Handles[Handle] = K;
  ++S.Live[static_cast<int>(K)];
}

void untrackObject(State &S, const void *Handle) {
  auto It = S.Handles.find(Handle);
  if (It == S.Handles.end())
    return;
  --S.Live[static_cast<int>(It->second)];
  S.Handles.erase(It);
}

bool isLive(const State &S, const void *Handle, ObjectKind K) {
  if (!Handle)
    return false;
  auto It = S.Handles.find(Handle);
  return It != S.Handles.end() && It->second == K;
}

void initFromEnvironment() {
  static std::once_flag Once;
  std::call_once(Once, [] {
    State &S = state();
    Lock L(S.Mutex);
    if (S.Platforms.empty())
      resetPlatforms(S);
    if (const char *LogPath = std::getenv("FAKECL_LOG"); LogPath && *LogPath) {
      S.LogFile = std::fopen(LogPath, "w");
      if (!S.LogFile)
        std::fprintf(stderr, "fakecl: cannot open FAKECL_LOG file %s\n", LogPath);
    }
    if (const char *Path = std::getenv("FAKECL_SCENARIO"); Path && *Path) {
      std::string Error;
      if (!applyScenarioFile(S, Path, Error)) {
        // A whole-program test with a broken scenario must not run against a default driver.
        std::fprintf(stderr, "fakecl: FAKECL_SCENARIO %s: %s\n", Path, Error.c_str());
        std::abort();
      }
    }
  });
}

} // namespace fakecl
