#include "runtime.h"

#include "debug.h"
#include "kernel_params.h"
#include "offload_policy.h"
#include "tool_connection.h"

#include <cstdlib>
#include <dlfcn.h>
#include <string>

namespace {

// The plugin beside this library, or the one LIBOMPTARGET_OPENCL_PLUGIN names.
std::string pluginPath() {
  if (const char *Path = std::getenv("LIBOMPTARGET_OPENCL_PLUGIN"))
    if (*Path)
      return Path;
  const char *Name = "libomptarget.rtl.opencl.so";
  Dl_info Info;
  if (dladdr(reinterpret_cast<void *>(&runtimeState), &Info) && Info.dli_fname) {
    std::string Self = Info.dli_fname;
    size_t Slash = Self.rfind('/');
    if (Slash != std::string::npos)
      return Self.substr(0, Slash + 1) + Name;
  }
  return Name;
}

// The entry points this runtime cannot work without.
const char *missingEntryPoint(const HostPlugin &P) {
#define REQUIRE(Name)                                                                              \
  if (!P.Name)                                                                                     \
    return "__tgt_rtl_" #Name;
  REQUIRE(number_of_devices)
  REQUIRE(init_device)
  REQUIRE(is_valid_binary)
  REQUIRE(load_binary)
  REQUIRE(data_alloc)
  REQUIRE(data_delete)
  REQUIRE(data_submit)
  REQUIRE(data_retrieve)
  REQUIRE(run_target_team_nd_region)
#undef REQUIRE
  return nullptr;
}

// Starts the plugin once; the caller holds the state's lock.
void startPlugin(RuntimeState &S) {
  if (S.PluginTried)
    return;
  S.PluginTried = true;
  if (offloadPolicy() == OffloadPolicy::Disabled) {
    HOST_DP("Offloading is disabled (OMP_TARGET_OFFLOAD=DISABLED)\n");
    return;
  }
  std::string Path = pluginPath();
  std::string Error;
  if (!loadHostPlugin(Path, S.Plugin, Error)) {
    HOST_DP("Cannot load the plugin %s: %s\n", Path.c_str(), Error.c_str());
    return;
  }
  if (const char *Missing = missingEntryPoint(S.Plugin)) {
    hostMessage("the plugin %s lacks %s; no device is used\n", Path.c_str(), Missing);
    unloadHostPlugin(S.Plugin);
    return;
  }
  HOST_DP("Loaded the plugin %s\n", Path.c_str());
  if (S.Plugin.register_lib(&S.PluginDescriptor) != 0) {
    hostMessage("the plugin's registration failed; no device is used\n");
    return;
  }
  S.PluginStarted = true;
  int32_t Count = S.Plugin.number_of_devices();
  S.NumDevices = Count > 0 ? Count : 0;
  if (S.Plugin.init_requires)
    S.Plugin.init_requires(0);
  S.Devices.resize(static_cast<size_t>(S.NumDevices));
  HOST_DP("The plugin reports %d device(s)\n", S.NumDevices);
}

// Permanent mappings for the declare-target variables of a freshly loaded image.
void mapGlobals(DeviceState &Device, const RegisteredImage &Image, const TargetTable &Table) {
  size_t Count = static_cast<size_t>(Table.EntriesEnd - Table.EntriesBegin);
  for (size_t I = 0; I < Image.Entries.size() && I < Count; ++I) {
    const OffloadEntry &Host = Image.Entries[I];
    const OffloadEntry &Tgt = Table.EntriesBegin[I];
    if (Host.size == 0 || !Host.address || !Tgt.address)
      continue;
    MappingEntry E;
    E.HostBegin = reinterpret_cast<uintptr_t>(Host.address);
    E.HostEnd = E.HostBegin + Host.size;
    E.TgtBegin = reinterpret_cast<uintptr_t>(Tgt.address);
    E.Permanent = true;
    if (lookupRange(Device.Mappings, E.HostBegin, Host.size).State == RangeState::Absent)
      insertEntry(Device.Mappings, E);
    HOST_DP("Declare target variable %s: host 0x%llx, device 0x%llx (%llu bytes)\n",
            Host.name ? Host.name : "?", (unsigned long long)E.HostBegin,
            (unsigned long long)E.TgtBegin, (unsigned long long)Host.size);
  }
}

} // namespace

RuntimeState &runtimeState() {
  // Never destroyed: exit handlers of the program may still unregister after static destructors.
  static RuntimeState *State = new RuntimeState();
  return *State;
}

int32_t numDevices() {
  RuntimeState &S = runtimeState();
  std::lock_guard<std::mutex> Guard(S.Lock);
  startPlugin(S);
  return S.NumDevices;
}

DeviceState *readyDevice(int32_t DeviceId, std::unique_lock<std::mutex> &Guard) {
  RuntimeState &S = runtimeState();
  std::lock_guard<std::mutex> StateGuard(S.Lock);
  startPlugin(S);
  if (DeviceId < 0 || DeviceId >= S.NumDevices)
    return nullptr;
  DeviceState &Device = S.Devices[static_cast<size_t>(DeviceId)];
  Guard = std::unique_lock<std::mutex>(Device.Lock);
  if (Device.Failed)
    return nullptr;
  if (!Device.Ready) {
    offerTool(S.Plugin);
    if (S.Plugin.init_device(DeviceId) != 0) {
      hostMessage("initialising device %d failed\n", DeviceId);
      Device.Failed = true;
      return nullptr;
    }
    Device.Ready = true;
  }
  // Images registered since the last use of the device are loaded now.
  for (; Device.ImagesLoaded < S.Images.size(); ++Device.ImagesLoaded) {
    RegisteredImage &Image = S.Images[Device.ImagesLoaded];
    if (!Image.ParamsRead) {
      Image.PointerParams = kernelPointerParams(
          Image.Image.BytesBegin, static_cast<size_t>(static_cast<char *>(Image.Image.BytesEnd) -
                                                      static_cast<char *>(Image.Image.BytesBegin)));
      Image.ParamsRead = true;
    }
    TargetTable *Table = nullptr;
    if (!S.Plugin.is_valid_binary(&Image.Image)) {
      hostMessage("the plugin cannot use image %zu for device %d\n", Device.ImagesLoaded, DeviceId);
    } else if (!(Table = S.Plugin.load_binary(DeviceId, &Image.Image))) {
      hostMessage("loading image %zu on device %d failed\n", Device.ImagesLoaded, DeviceId);
    } else {
      mapGlobals(Device, Image, *Table);
    }
    Device.Tables.push_back(Table);
  }
  return &Device;
}

RegionKernel regionKernel(DeviceState &Device, const void *HostRegion) {
  RuntimeState &S = runtimeState();
  RegionRef Ref;
  {
    std::lock_guard<std::mutex> Guard(S.RegionsLock);
    auto It = S.Regions.find(HostRegion);
    if (It == S.Regions.end())
      return {};
    Ref = It->second;
  }
  RegionKernel Result;
  if (Ref.Image >= Device.Tables.size() || !Device.Tables[Ref.Image])
    return Result;
  const TargetTable &Table = *Device.Tables[Ref.Image];
  if (Ref.Entry >= static_cast<size_t>(Table.EntriesEnd - Table.EntriesBegin))
    return Result;
  Result.Entry = Table.EntriesBegin[Ref.Entry].address;
  const char *Name = Ref.Source->Entries[Ref.Entry].name;
  auto Params = Name ? Ref.Source->PointerParams.find(Name) : Ref.Source->PointerParams.end();
  if (Params != Ref.Source->PointerParams.end())
    Result.PointerParams = &Params->second;
  return Result;
}

DeviceOps pluginOps(int32_t DeviceId) {
  HostPlugin &P = runtimeState().Plugin;
  DeviceOps Ops;
  Ops.Alloc = [&P, DeviceId](int64_t Size, void *HostPtr) {
    return P.data_alloc(DeviceId, Size, HostPtr, 0);
  };
  Ops.Free = [&P, DeviceId](void *TgtPtr) { return P.data_delete(DeviceId, TgtPtr); };
  Ops.Submit = [&P, DeviceId](void *TgtPtr, void *HostPtr, int64_t Size) {
    return P.data_submit(DeviceId, TgtPtr, HostPtr, Size);
  };
  Ops.Retrieve = [&P, DeviceId](void *HostPtr, void *TgtPtr, int64_t Size) {
    return P.data_retrieve(DeviceId, HostPtr, TgtPtr, Size);
  };
  return Ops;
}

void stopPluginIfUnused() {
  RuntimeState &S = runtimeState();
  std::lock_guard<std::mutex> Guard(S.Lock);
  if (S.Registrations > 0 || !S.PluginStarted)
    return;
  HOST_DP("Last image unregistered: shutting the plugin down\n");
  if (S.Plugin.unregister_lib)
    S.Plugin.unregister_lib(&S.PluginDescriptor);
  S.PluginStarted = false;
}
