// The host runtime's side of an offload session, as the offload host runtime drives a plugin for
// an application: open the plugin and resolve every entry point, register, count and initialise
// the devices, load images and keep their tables, map data, find regions by name and launch them,
// and unregister. Every failed call is reported on standard error with the entry point's name
// and the result is handed back; nothing is retried or hidden.
#ifndef HOSTRT_HOST_RUNTIME_H
#define HOSTRT_HOST_RUNTIME_H

#include "host_plugin.h"
#include "host_tool.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// One offload image with the host's entries of the program it belongs to.
struct HostImage {
  std::vector<char> Bytes;
  std::deque<std::string> Names;      // the entries' names, stable in memory
  std::vector<OffloadEntry> Entries;  // host entries in the host compiler's order
  DeviceImage Descriptor = {};        // refreshed by loadImage
  TargetTable *Table = nullptr;       // the device entries of the last load

  HostImage() = default;
  HostImage(const HostImage &) = delete; // entries point at this image's own names
  HostImage &operator=(const HostImage &) = delete;

  // A target region; its host address is a unique tag, as a host function's would be.
  HostImage &region(const std::string &Name);
  // A declare-target variable at Host of Size bytes.
  HostImage &variable(const std::string &Name, void *Host, uint64_t Size);
};

// The image file's bytes; false (with a message) when it cannot be read.
bool readImageFile(const std::string &Path, HostImage &Image);

struct HostRuntime {
  HostPlugin Plugin;
  HostTool *Tool = nullptr; // a started tool the plugin and the launches report to, or none
  BinaryDescriptor Descriptor = {};
  int32_t NumDevices = 0;
  bool Registered = false;
};

// Opens the plugin, resolves its entry points (a missing one is an error naming it), hands it the
// tool's state (or none), registers, counts the devices, sets the requirement flags and
// initialises every device. False on the first failure, after its message.
bool startHostRuntime(HostRuntime &RT, const std::string &PluginPath);
// Unregisters (the plugin shuts down) and closes the plugin.
void stopHostRuntime(HostRuntime &RT);

// Checks and loads the image on a device; the device entries, or null.
TargetTable *loadImage(HostRuntime &RT, int32_t DeviceId, HostImage &Image);
// The device entry of a region or variable by name in the image's last loaded table, or null
// (reported).
void *findEntry(const HostImage &Image, const std::string &Name);

// Device memory of Kind (0 device, 1 host, 2 shared) holding a copy of Size bytes at Host (no
// copy for a null Host); null when the allocation or the copy fails.
void *mapTo(HostRuntime &RT, int32_t DeviceId, const void *Host, int64_t Size, int32_t Kind = 0);
bool copyFrom(HostRuntime &RT, int32_t DeviceId, void *Host, void *Device, int64_t Size);
bool copyTo(HostRuntime &RT, int32_t DeviceId, void *Device, const void *Host, int64_t Size);
bool unmap(HostRuntime &RT, int32_t DeviceId, void *Device);

// One argument of a launch: a device pointer plus a byte offset, or an 8-byte value.
struct LaunchArg {
  void *Value;
  ptrdiff_t Offset;
  static LaunchArg pointer(void *Base, ptrdiff_t Offset = 0) { return {Base, Offset}; }
  static LaunchArg scalar(uint64_t Bits) { return {reinterpret_cast<void *>(Bits), INT64_MAX}; }
  // A value the region's kernel info record describes: Value points at its bytes.
  static LaunchArg byValue(void *Value) { return {Value, INT64_MAX}; }
};

// Runs a region and waits for it, telling the tool about it; NumTeams and ThreadLimit below 1
// mean "not given".
bool launchRegion(HostRuntime &RT, int32_t DeviceId, void *Entry, const std::vector<LaunchArg> &Args,
                  int32_t NumTeams, int32_t ThreadLimit, const LoopDescriptor *Loops = nullptr);

#endif
