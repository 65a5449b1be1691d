#include "tool_connection.h"

#include "debug.h"
#include "runtime.h"

#include <atomic>
#include <dlfcn.h>
#include <type_traits>

// The host OpenMP runtime's thread number keys the per-thread entries, as in the plugin.
extern "C" int32_t __kmpc_global_thread_num(void *);

namespace {

struct ToolConnection {
  bool Connected = false;
  OmptHostState State;
  ompt_callback_target_t Target = nullptr;
  std::atomic<uint64_t> NextTargetId{1};
};

// Never destroyed: the plugin calls the tool's device callbacks at its shutdown, which a compiled
// program runs from an exit handler after static destructors.
ToolConnection &connection() {
  static ToolConnection *Connection = new ToolConnection;
  return *Connection;
}

// Called by the host OpenMP runtime, with its lookup, when a tool is attached.
int connectInitialize(ompt_function_lookup_t Lookup, int, ompt_data_t *) {
  auto Get = reinterpret_cast<ompt_get_callback_t>(Lookup("ompt_get_callback"));
  if (!Get)
    return 0;
  ToolConnection &C = connection();
  auto Fetch = [&](ompt_callbacks_t Event, auto &Slot, uint32_t Bit) {
    ompt_callback_t Callback = nullptr;
    if (Get(Event, &Callback) == 1 && Callback) {
      Slot = reinterpret_cast<std::remove_reference_t<decltype(Slot)>>(Callback);
      C.State.Flags |= Bit;
    }
  };
  Fetch(ompt_callback_device_initialize, C.State.DeviceInitialize, OmptDeviceInitializeRegistered);
  Fetch(ompt_callback_device_finalize, C.State.DeviceFinalize, OmptDeviceFinalizeRegistered);
  Fetch(ompt_callback_device_load, C.State.DeviceLoad, OmptDeviceLoadRegistered);
  Fetch(ompt_callback_device_unload, C.State.DeviceUnload, OmptDeviceUnloadRegistered);
  Fetch(ompt_callback_target, C.Target, 0);
  C.State.Flags |= OmptEnabled;
  C.Connected = true;
  return 1;
}

void connectFinalize(ompt_data_t *) {}

// The kernel name of a region's host address, from the entries of its image.
const char *kernelName(const void *HostRegion) {
  RuntimeState &S = runtimeState();
  std::lock_guard<std::mutex> Guard(S.RegionsLock);
  auto It = S.Regions.find(HostRegion);
  if (It == S.Regions.end() || It->second.Image >= S.Images.size())
    return nullptr;
  const RegisteredImage &Image = S.Images[It->second.Image];
  return It->second.Entry < Image.Entries.size() ? Image.Entries[It->second.Entry].name : nullptr;
}

} // namespace

void offerTool(HostPlugin &Plugin) {
  static bool Offered = false;
  if (Offered || !Plugin.init_ompt)
    return;
  Offered = true;
  using ConnectFn = void (*)(ompt_start_tool_result_t *);
  auto Connect = reinterpret_cast<ConnectFn>(dlsym(RTLD_DEFAULT, "ompt_libomp_connect"));
  static ompt_start_tool_result_t Result = {connectInitialize, connectFinalize, {0}};
  if (Connect)
    Connect(&Result);
  ToolConnection &C = connection();
  if (C.Connected)
    HOST_DP("Connected to the OMPT tool (flags 0x%x)\n", C.State.Flags);
  Plugin.init_ompt(C.Connected ? &C.State : nullptr);
}

void ToolRegionScope::begin(int32_t DeviceId, const void *Address, const void *HostRegion) {
  ToolConnection &C = connection();
  if (!C.Connected)
    return;
  On = true;
  Device = DeviceId;
  CodeAddress = Address;
  TargetId = C.NextTargetId++;
  const char *Name = kernelName(HostRegion);
  {
    std::lock_guard<std::mutex> Guard(C.State.Mutex);
    OmptThreadState &Entry = C.State.ThreadStates[__kmpc_global_thread_num(nullptr)];
    Entry.TargetId = TargetId;
    if (Name)
      Entry.CodeLocations.emplace(reinterpret_cast<uint64_t>(Address), Name);
  }
  if (C.Target)
    C.Target(ompt_target, ompt_scope_begin, Device, nullptr, TargetId, CodeAddress);
}

ToolRegionScope::~ToolRegionScope() {
  ToolConnection &C = connection();
  if (On && C.Target)
    C.Target(ompt_target, ompt_scope_end, Device, nullptr, TargetId, CodeAddress);
}
