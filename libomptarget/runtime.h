// The host runtime's process-wide state: the registered images, the plugin (loaded on first use),
// and per device its readiness, loaded tables and mapping table.
#ifndef LIBOMPTARGET_RUNTIME_H
#define LIBOMPTARGET_RUNTIME_H

#include "data_mapper.h"
#include "host_plugin.h"
#include "offload_entries.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One registered image with its entries converted for the plugin.
struct RegisteredImage {
  const CompilerBinaryDesc *Owner = nullptr;
  DeviceImage Image = {};
  std::vector<OffloadEntry> Entries;
  // Per kernel, which parameters are pointers; read at the image's first load.
  bool ParamsRead = false;
  std::map<std::string, std::vector<bool>> PointerParams;
};

struct DeviceState {
  std::mutex Lock; // guards everything below; held over a construct's mapping and copies
  bool Ready = false;
  bool Failed = false;
  size_t ImagesLoaded = 0;           // a prefix of RuntimeState::Images
  std::vector<TargetTable *> Tables; // per loaded image
  MappingTable Mappings;
};

// Where a region's host address leads: image and entry index.
struct RegionRef {
  size_t Image;
  size_t Entry;
  const RegisteredImage *Source;
};

struct RuntimeState {
  // Lock order: Lock, then a device's lock, then RegionsLock.
  std::mutex Lock; // guards the image list, the registrations and the plugin's start
  std::deque<RegisteredImage> Images;
  std::mutex RegionsLock;
  std::map<const void *, RegionRef> Regions;
  int32_t Registrations = 0;

  bool PluginTried = false;
  bool PluginStarted = false;
  HostPlugin Plugin;
  BinaryDescriptor PluginDescriptor = {};
  int32_t NumDevices = 0;
  std::deque<DeviceState> Devices;
};

RuntimeState &runtimeState();

// The plugin's device count, starting the plugin on first use (0 when it cannot be started or
// offloading is disabled).
int32_t numDevices();

// The device initialised with every registered image loaded on it, its lock held by Guard; null
// (after a message) when it cannot be made ready.
DeviceState *readyDevice(int32_t DeviceId, std::unique_lock<std::mutex> &Guard);

// What the plugin launches for a region's host address on a ready device.
struct RegionKernel {
  void *Entry = nullptr;                            // null when the device has no kernel for it
  const std::vector<bool> *PointerParams = nullptr; // null when unknown
};
RegionKernel regionKernel(DeviceState &Device, const void *HostRegion);

// DeviceOps through the plugin for one device.
DeviceOps pluginOps(int32_t DeviceId);

// Unregisters from the plugin when the last image goes (the plugin shuts down).
void stopPluginIfUnused();

#endif
