#include "host_runtime.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

bool failed(const char *EntryPoint, int32_t DeviceId, const char *What = "failed") {
  std::fprintf(stderr, "hostrt: __tgt_rtl_%s (device %d) %s\n", EntryPoint, DeviceId, What);
  return false;
}

// The names of the entry points the plugin lacks.
std::string missingEntryPoints(const HostPlugin &Plugin) {
  std::string Missing;
#define HOSTRT_CHECK(Name, Ret, ...)                                                               \
  if (!Plugin.Name)                                                                                \
    Missing += std::string(Missing.empty() ? "" : ", ") + "__tgt_rtl_" #Name;
  HOSTRT_ENTRY_POINTS(HOSTRT_CHECK)
#undef HOSTRT_CHECK
  return Missing;
}

} // namespace

HostImage &HostImage::region(const std::string &Name) {
  Names.push_back(Name);
  Entries.push_back({nullptr, &Names.back()[0], 0, 0, 0});
  return *this;
}

HostImage &HostImage::variable(const std::string &Name, void *Host, uint64_t Size) {
  Names.push_back(Name);
  Entries.push_back({Host, &Names.back()[0], Size, 0, 0});
  return *this;
}

bool readImageFile(const std::string &Path, HostImage &Image) {
  std::ifstream In(Path, std::ios::binary);
  Image.Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  if (Image.Bytes.empty()) {
    std::fprintf(stderr, "hostrt: cannot read the image %s\n", Path.c_str());
    return false;
  }
  return true;
}

bool startHostRuntime(HostRuntime &RT, const std::string &PluginPath) {
  std::string Error;
  if (!loadHostPlugin(PluginPath, RT.Plugin, Error)) {
    std::fprintf(stderr, "hostrt: cannot load the plugin %s: %s\n", PluginPath.c_str(),
                 Error.c_str());
    return false;
  }
  std::string Missing = missingEntryPoints(RT.Plugin);
  if (!Missing.empty()) {
    std::fprintf(stderr, "hostrt: the plugin lacks %s\n", Missing.c_str());
    unloadHostPlugin(RT.Plugin);
    return false;
  }
  RT.Plugin.init_ompt(RT.Tool && RT.Tool->Result ? &RT.Tool->State : nullptr);
  if (RT.Plugin.register_lib(&RT.Descriptor) != 0)
    return failed("register_lib", -1);
  RT.Registered = true;
  RT.NumDevices = RT.Plugin.number_of_devices();
  if (RT.NumDevices <= 0)
    return failed("number_of_devices", -1, "found no device");
  RT.Plugin.init_requires(0);
  for (int32_t Id = 0; Id < RT.NumDevices; ++Id)
    if (RT.Plugin.init_device(Id) != 0)
      return failed("init_device", Id);
  return true;
}

void stopHostRuntime(HostRuntime &RT) {
  if (RT.Registered && RT.Plugin.unregister_lib(&RT.Descriptor) != 0)
    failed("unregister_lib", -1);
  RT.Registered = false;
  unloadHostPlugin(RT.Plugin);
}

TargetTable *loadImage(HostRuntime &RT, int32_t DeviceId, HostImage &Image) {
  // Region tags: the entries' own addresses, unique in the process.
  for (OffloadEntry &E : Image.Entries)
    if (E.size == 0 && !E.address)
      E.address = &E;
  OffloadEntry *Begin = Image.Entries.empty() ? nullptr : Image.Entries.data();
  Image.Descriptor = {Image.Bytes.data(), Image.Bytes.data() + Image.Bytes.size(), Begin,
                      Begin ? Begin + Image.Entries.size() : nullptr};
  if (!RT.Plugin.is_valid_binary(&Image.Descriptor)) {
    failed("is_valid_binary", DeviceId, "refused the image");
    return nullptr;
  }
  Image.Table = RT.Plugin.load_binary(DeviceId, &Image.Descriptor);
  if (!Image.Table)
    failed("load_binary", DeviceId);
  return Image.Table;
}

void *findEntry(const HostImage &Image, const std::string &Name) {
  if (Image.Table)
    for (const OffloadEntry *E = Image.Table->EntriesBegin; E != Image.Table->EntriesEnd; ++E)
      if (E->name && Name == E->name)
        return E->address;
  std::fprintf(stderr, "hostrt: no device entry named %s\n", Name.c_str());
  return nullptr;
}

void *mapTo(HostRuntime &RT, int32_t DeviceId, const void *Host, int64_t Size, int32_t Kind) {
  void *Device = RT.Plugin.data_alloc(DeviceId, Size, nullptr, Kind);
  if (!Device) {
    failed("data_alloc", DeviceId);
    return nullptr;
  }
  if (Host && !copyTo(RT, DeviceId, Device, Host, Size)) {
    unmap(RT, DeviceId, Device);
    return nullptr;
  }
  return Device;
}

bool copyTo(HostRuntime &RT, int32_t DeviceId, void *Device, const void *Host, int64_t Size) {
  return RT.Plugin.data_submit(DeviceId, Device, const_cast<void *>(Host), Size) == 0 ||
         failed("data_submit", DeviceId);
}

bool copyFrom(HostRuntime &RT, int32_t DeviceId, void *Host, void *Device, int64_t Size) {
  return RT.Plugin.data_retrieve(DeviceId, Host, Device, Size) == 0 ||
         failed("data_retrieve", DeviceId);
}

bool unmap(HostRuntime &RT, int32_t DeviceId, void *Device) {
  return RT.Plugin.data_delete(DeviceId, Device) == 0 || failed("data_delete", DeviceId);
}

bool launchRegion(HostRuntime &RT, int32_t DeviceId, void *Entry, const std::vector<LaunchArg> &Args,
                  int32_t NumTeams, int32_t ThreadLimit, const LoopDescriptor *Loops) {
  std::vector<void *> Values;
  std::vector<ptrdiff_t> Offsets;
  for (const LaunchArg &A : Args) {
    Values.push_back(A.Value);
    Offsets.push_back(A.Offset);
  }
  return runTargetRegion(RT.Plugin, RT.Tool, DeviceId, Entry, Values.data(), Offsets.data(),
                         static_cast<int32_t>(Args.size()), NumTeams, ThreadLimit, nullptr,
                         Loops) == 0 ||
         failed("run_target_team_nd_region", DeviceId);
}
