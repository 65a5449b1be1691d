// The plugin's one process-wide state record. Created when the library is loaded, filled by
// discovery and device initialisation, torn down by closeRTL on the last unregistration.
#ifndef FRAME_PLUGIN_STATE_H
#define FRAME_PLUGIN_STATE_H

#include "device/device_records.h"
#include "device/platform_info.h"
#include "frame/opencl.h"
#include "frame/options.h"
#include "kernel/kernel_property.h"
#include "memory/allocation_table.h"
#include "profile/profile_records.h"
#include "program/program.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct PluginDeviceInfo {
  // Per-device members are indexed by the plugin's device number; after discovery each has
  // exactly NumDevices entries.
  uint32_t NumDevices = 0;
  std::atomic<int32_t> NumRegisteredLibs{0};
  std::vector<std::list<OpenCLProgramTy>> Programs; // a list, so programs never move
  std::map<cl_platform_id, PlatformInfoTy> PlatformInfos;
  std::vector<cl_platform_id> Platforms;
  std::vector<cl_context> Contexts; // only without single-context mode
  std::vector<cl_device_id> Devices;
  std::vector<uint64_t> DeviceArchs;
  std::vector<DevicePropertiesTy> DeviceProperties;
  std::vector<DeviceExtensionsTy> Extensions;
  std::vector<cl_command_queue> Queues;
  std::vector<std::map<cl_kernel, KernelProperty>> KernelProperties;
  std::vector<std::map<int32_t, ThreadProfile>> Profiles; // keyed by OpenMP global thread number
  std::vector<bool> Initialized;
  std::unique_ptr<std::mutex[]> Mutexes;
  std::unique_ptr<std::mutex[]> ProfileMutexes;
  std::vector<std::vector<void *>> OwnedMemory;
  // One per device plus a last one for host allocations of single-context mode.
  std::vector<std::unique_ptr<AllocationTable>> AllocationTables;
  uint64_t RequiresFlags = 0;
  PluginOptions Option;
  // Set by the first device count; later counts answer from it instead of discovering again.
  bool Discovered = false;

  // The context to use for a device: its platform's in single-context mode, else its own.
  cl_context getContext(int32_t DeviceId) const;
  bool singleContext() const { return Option.Flags & OptionFlagSingleContext; }
  // The calling thread's profile on a device, created empty on first use.
  ThreadProfile &getProfile(int32_t DeviceId);
  // An extension function of the device's platform, null when the platform lacks it.
  void *extensionFunction(int32_t DeviceId, ExtensionFunctionIndex Index) const;
};

extern PluginDeviceInfo *DeviceInfo;

// Creates DeviceInfo with its options read from the environment (done once at load).
void createPluginState();
// Shuts the plugin down and destroys DeviceInfo; does nothing when it is already gone.
void closeRTL();

#endif
