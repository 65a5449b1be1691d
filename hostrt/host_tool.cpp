#include "host_tool.h"

#include <dlfcn.h>

#include <string>

// The OpenMP runtime's thread number keys the per-thread map, as in the plugin.
extern "C" int32_t __kmpc_global_thread_num(void *);

namespace {

// The tool being initialised: ompt_set_callback has no argument to name it.
HostTool *Registering = nullptr;

// Which flag bit says that a device callback is registered, and where the callback goes.
ompt_set_result_t setCallback(ompt_callbacks_t Event, ompt_callback_t Callback) {
  if (!Registering)
    return ompt_set_error;
  HostTool &T = *Registering;
  OmptHostState &S = T.State;
  uint32_t Bit = 0;
  switch (Event) {
  case ompt_callback_device_initialize:
    S.DeviceInitialize = reinterpret_cast<ompt_callback_device_initialize_t>(Callback);
    Bit = OmptDeviceInitializeRegistered;
    break;
  case ompt_callback_device_finalize:
    S.DeviceFinalize = reinterpret_cast<ompt_callback_device_finalize_t>(Callback);
    Bit = OmptDeviceFinalizeRegistered;
    break;
  case ompt_callback_device_load:
    S.DeviceLoad = reinterpret_cast<ompt_callback_device_load_t>(Callback);
    Bit = OmptDeviceLoadRegistered;
    break;
  case ompt_callback_device_unload:
    S.DeviceUnload = reinterpret_cast<ompt_callback_device_unload_t>(Callback);
    Bit = OmptDeviceUnloadRegistered;
    break;
  case ompt_callback_target:
    T.TargetCallback = reinterpret_cast<ompt_callback_target_t>(Callback);
    return ompt_set_always;
  default:
    return ompt_set_never;
  }
  S.Flags = Callback ? (S.Flags | Bit) : (S.Flags & ~Bit);
  return ompt_set_always;
}

ompt_interface_fn_t hostLookup(const char *Name) {
  if (Name && std::string(Name) == "ompt_set_callback")
    return reinterpret_cast<ompt_interface_fn_t>(setCallback);
  return nullptr;
}

OmptThreadState &threadEntry(OmptHostState &S) {
  int32_t ThreadId = __kmpc_global_thread_num(nullptr);
  std::lock_guard<std::mutex> Guard(S.Mutex);
  return S.ThreadStates[ThreadId];
}

} // namespace

bool startHostTool(OmptStartToolFn Start, HostTool &Tool) {
  Tool.Result = Start ? Start(201811, "hostrt") : nullptr;
  if (!Tool.Result || !Tool.Result->initialize) {
    Tool.Result = nullptr;
    return false;
  }
  Registering = &Tool;
  int Accepted = Tool.Result->initialize(hostLookup, 0, &Tool.Result->tool_data);
  Registering = nullptr;
  if (!Accepted) {
    Tool.State.Flags = 0;
    Tool.Result = nullptr;
    return false;
  }
  Tool.State.Flags |= OmptEnabled;
  return true;
}

bool loadHostTool(const std::string &Path, HostTool &Tool, std::string &Error) {
  Tool.Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Tool.Handle) {
    const char *Reason = dlerror();
    Error = Reason ? Reason : "dlopen failed";
    return false;
  }
  auto Start = reinterpret_cast<OmptStartToolFn>(dlsym(Tool.Handle, "ompt_start_tool"));
  if (!Start) {
    Error = "the library lacks ompt_start_tool";
  } else if (startHostTool(Start, Tool)) {
    return true;
  } else {
    Error = "the tool declined to start";
  }
  dlclose(Tool.Handle);
  Tool.Handle = nullptr;
  return false;
}

void finalizeHostTool(HostTool &Tool) {
  if (Tool.Result && Tool.Result->finalize)
    Tool.Result->finalize(&Tool.Result->tool_data);
  Tool.Result = nullptr;
  if (Tool.Handle)
    dlclose(Tool.Handle);
  Tool.Handle = nullptr;
}

int32_t runTargetRegion(HostPlugin &Plugin, HostTool *Tool, int32_t DeviceId, void *Entry,
                        void **Args, ptrdiff_t *Offsets, int32_t NumArgs, int32_t NumTeams,
                        int32_t ThreadLimit, const char *CodeLocation,
                        const LoopDescriptor *Loops) {
  const void *ReturnAddress = __builtin_return_address(0);
  bool Listening = Tool && Tool->Result;
  uint64_t TargetId = 0;
  if (Listening) {
    TargetId = Tool->NextTargetId++;
    OmptThreadState &E = threadEntry(Tool->State);
    E.TargetId = TargetId;
    if (CodeLocation)
      E.CodeLocations[reinterpret_cast<uint64_t>(ReturnAddress)] = CodeLocation;
    if (Tool->TargetCallback)
      Tool->TargetCallback(ompt_target, ompt_scope_begin, DeviceId, nullptr, TargetId,
                           ReturnAddress);
  }
  int32_t Rc = Plugin.run_target_team_nd_region(DeviceId, Entry, Args, Offsets, NumArgs, NumTeams,
                                                ThreadLimit, const_cast<LoopDescriptor *>(Loops));
  if (Listening && Tool->TargetCallback)
    Tool->TargetCallback(ompt_target, ompt_scope_end, DeviceId, nullptr, TargetId, ReturnAddress);
  return Rc;
}
