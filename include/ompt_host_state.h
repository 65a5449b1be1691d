// The tool state the host runtime shares with the plugin when an OMPT tool is attached. The host
// owns it; the plugin calls the device callbacks in it and keeps per-thread launch data in its map.
// Only the members the plugin uses are named; the gaps hold host members the plugin never touches.
#ifndef OMPT_HOST_STATE_H
#define OMPT_HOST_STATE_H

#include <omp-tools.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Bits of OmptHostState::Flags.
enum : uint32_t {
  OmptEnabled = 0x1,
  OmptDeviceInitializeRegistered = 0x1000,
  OmptDeviceFinalizeRegistered = 0x2000,
  OmptDeviceLoadRegistered = 0x4000,
  OmptDeviceUnloadRegistered = 0x8000,
};

// One host thread's data, keyed by its OpenMP global thread number.
struct OmptThreadState {
  uint64_t TargetId = 0; // the thread's current target region, written by the host
  uint64_t Reserved0 = 0;
  uint32_t LaunchNumTeams = 0;    // of the thread's last kernel launch, written by the plugin
  uint32_t LaunchThreadLimit = 0; // threads per team of that launch
  uint64_t Reserved1 = 0;
  std::map<uint64_t, std::string> CodeLocations; // return address to source text, by the host
};

struct OmptHostState {
  unsigned char Reserved0[0x10] = {};
  std::mutex Mutex; // held only to find or insert a thread's entry
  unsigned char Reserved1[0x60 - 0x10 - sizeof(std::mutex)] = {};
  std::map<int32_t, OmptThreadState> ThreadStates;
  unsigned char Reserved2[0xC8 - 0x60 - sizeof(std::map<int32_t, OmptThreadState>)] = {};
  ompt_callback_device_initialize_t DeviceInitialize = nullptr;
  ompt_callback_device_finalize_t DeviceFinalize = nullptr;
  ompt_callback_device_load_t DeviceLoad = nullptr;
  ompt_callback_device_unload_t DeviceUnload = nullptr;
  unsigned char Reserved3[0x170 - 0xE8] = {};
  uint32_t Flags = 0;
  uint32_t Reserved4 = 0;
};

// The host's layout is fixed; the record holds library types, so offsetof is only conditionally
// supported by the language, and GCC supports it for records without virtual bases.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(OmptHostState, Mutex) == 0x10 &&
                  offsetof(OmptHostState, ThreadStates) == 0x60 &&
                  offsetof(OmptHostState, DeviceInitialize) == 0xC8 &&
                  offsetof(OmptHostState, DeviceFinalize) == 0xD0 &&
                  offsetof(OmptHostState, DeviceLoad) == 0xD8 &&
                  offsetof(OmptHostState, DeviceUnload) == 0xE0 &&
                  offsetof(OmptHostState, Flags) == 0x170,
              "the host runtime's tool state layout");
static_assert(offsetof(OmptThreadState, LaunchNumTeams) == 16 &&
                  offsetof(OmptThreadState, LaunchThreadLimit) == 20 &&
                  offsetof(OmptThreadState, CodeLocations) == 32,
              "the host runtime's per-thread tool record");
#pragma GCC diagnostic pop

#endif
