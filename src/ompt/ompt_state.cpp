#include "ompt/ompt_state.h"

#include "frame/debug.h"
#include "frame/plugin_state.h"
#include "ompt/ompt_entries.h"

#include <cstdarg>
#include <cstdio>

OmptHostState *OmptState = nullptr;

// The OpenMP runtime's global thread number keys the host's per-thread map.
extern "C" int32_t __kmpc_global_thread_num(void *);

void omptWarning(const char *Fmt, ...) {
  if (StartupDebugLevel <= 0)
    return;
  std::fputs("Target OPENCL RTL --> ", stderr);
  va_list Args;
  va_start(Args, Fmt);
  std::vfprintf(stderr, Fmt, Args);
  va_end(Args);
}

OmptThreadState &omptThreadEntry(OmptHostState &State) {
  int32_t ThreadId = __kmpc_global_thread_num(nullptr);
  std::lock_guard<std::mutex> Guard(State.Mutex);
  return State.ThreadStates[ThreadId];
}

namespace {

bool toolListens(uint32_t Registered) {
  uint32_t Wanted = OmptEnabled | Registered;
  return OmptState && (OmptState->Flags & Wanted) == Wanted;
}

} // namespace

void omptNotifyDeviceInitialize(int32_t DeviceId) {
  if (!toolListens(OmptDeviceInitializeRegistered) || !OmptState->DeviceInitialize)
    return;
  OmptState->DeviceInitialize(DeviceId, DeviceInfo->DeviceProperties[DeviceId].Name.c_str(),
                              reinterpret_cast<ompt_device_t *>(DeviceInfo->Devices[DeviceId]),
                              omptLookup, OmptDocumentation);
}

void omptNotifyDeviceLoad(int32_t DeviceId, const DeviceImage *Image) {
  if (!toolListens(OmptDeviceLoadRegistered) || !OmptState->DeviceLoad)
    return;
  size_t Bytes = static_cast<size_t>(static_cast<const char *>(Image->BytesEnd) -
                                     static_cast<const char *>(Image->BytesBegin));
  OmptState->DeviceLoad(DeviceId, nullptr, -1, nullptr, Bytes, Image->BytesBegin, nullptr, 0);
}

void omptNotifyDeviceShutdown(int32_t DeviceId) {
  if (toolListens(OmptDeviceUnloadRegistered) && OmptState->DeviceUnload)
    OmptState->DeviceUnload(DeviceId, 0);
  if (toolListens(OmptDeviceFinalizeRegistered) && OmptState->DeviceFinalize)
    OmptState->DeviceFinalize(DeviceId);
}

void omptRecordLaunch(size_t NumTeams, size_t ThreadsPerTeam) {
  if (!toolListens(0))
    return;
  // Only this thread writes these two fields from the plugin's side: no lock is needed.
  OmptThreadState &Entry = omptThreadEntry(*OmptState);
  Entry.LaunchNumTeams = static_cast<uint32_t>(NumTeams);
  Entry.LaunchThreadLimit = static_cast<uint32_t>(ThreadsPerTeam);
}
