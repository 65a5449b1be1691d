// The demo: loads the plugin the way the offload host runtime does and walks the host runtime's
// call order: registration, devices, then the offload image of a small program, whose device
// entries it prints, whose declare-target variables it reads and writes through the plugin, and
// whose target regions it runs, checking each result against the same computation on the host.
// Run it with LIBOMPTARGET_DEBUG=1 to see the plugin's own account on standard error.
#include "host_plugin.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The host side of the demo program: its target regions and declare-target variables, in the
// order the host compiler listed them.
int32_t HostCounter = 42;
int64_t HostScale[4] = {1, 2, 3, 4};
char SaxpyName[] = "__omp_offloading_demo_saxpy_l12";
char SumName[] = "__omp_offloading_demo_sum_l30";
char GridName[] = "__omp_offloading_demo_grid_l40";
char CounterName[] = "demo_counter";
char ScaleName[] = "demo_scale";
OffloadEntry HostEntries[] = {
    {reinterpret_cast<void *>(&HostEntries), SaxpyName, 0, 0, 0},
    {&HostCounter, CounterName, sizeof(HostCounter), 0, 0},
    {reinterpret_cast<void *>(&HostEntries[1]), SumName, 0, 0, 0},
    {HostScale, ScaleName, sizeof(HostScale), 0, 0},
    {reinterpret_cast<void *>(&HostEntries[2]), GridName, 0, 0, 0},
};
enum { SaxpyEntry = 0, CounterEntry = 1, SumEntry = 2, ScaleEntry = 3, GridEntry = 4 };

// The offset that passes an argument as a plain 8-byte value.
constexpr ptrdiff_t ByValue = INT64_MAX;

void printEntries(const TargetTable &Table) {
  for (const OffloadEntry *E = Table.EntriesBegin; E != Table.EntriesEnd; ++E) {
    if (E->size)
      std::printf("demo:   variable %-34s %3llu bytes at %p\n", E->name,
                  static_cast<unsigned long long>(E->size), E->address);
    else
      std::printf("demo:   region   %-34s kernel %p\n", E->name,
                  E->address ? *static_cast<void **>(E->address) : nullptr);
  }
}

// Reads the declare-target variables through the plugin, then changes the counter and reads it
// back; false when a copy fails.
bool exerciseVariables(HostPlugin &Plugin, const TargetTable &Table) {
  void *Counter = Table.EntriesBegin[CounterEntry].address;
  void *Scale = Table.EntriesBegin[ScaleEntry].address;
  int32_t Value = 0;
  int64_t Scales[4] = {};
  if (Plugin.data_retrieve(0, &Value, Counter, sizeof(Value)) != 0 ||
      Plugin.data_retrieve(0, Scales, Scale, sizeof(Scales)) != 0)
    return false;
  std::printf("demo: demo_counter = %d, demo_scale = {%lld, %lld, %lld, %lld}\n", Value,
              static_cast<long long>(Scales[0]), static_cast<long long>(Scales[1]),
              static_cast<long long>(Scales[2]), static_cast<long long>(Scales[3]));
  int32_t NewValue = 7;
  if (Plugin.data_submit(0, Counter, &NewValue, sizeof(NewValue)) != 0 ||
      Plugin.data_retrieve(0, &Value, Counter, sizeof(Value)) != 0)
    return false;
  std::printf("demo: demo_counter after writing 7 = %d\n", Value);
  return Value == 7;
}

// Device memory holding a copy of Host; null when the allocation or the copy fails.
template <typename T> void *toDevice(HostPlugin &Plugin, std::vector<T> &Host) {
  int64_t Bytes = static_cast<int64_t>(Host.size() * sizeof(T));
  void *Device = Plugin.data_alloc(0, Bytes, nullptr, 0);
  if (Device && Plugin.data_submit(0, Device, Host.data(), Bytes) != 0)
    return nullptr;
  return Device;
}

template <typename T> bool fromDevice(HostPlugin &Plugin, std::vector<T> &Host, void *Device) {
  return Plugin.data_retrieve(0, Host.data(), Device,
                              static_cast<int64_t>(Host.size() * sizeof(T))) == 0;
}

bool report(const char *Region, const std::string &Result, bool Verified) {
  std::printf("demo: %s: %s -- %s\n", Region, Result.c_str(),
              Verified ? "verified against the host" : "WRONG");
  return Verified;
}

// saxpy over 1024 floats in 16 teams of 64: y = 2.5 y + scale[i % 4].
bool runSaxpy(HostPlugin &Plugin, const TargetTable &Table) {
  std::vector<float> Y(1024), Expected(1024);
  for (size_t I = 0; I < Y.size(); ++I) {
    Y[I] = static_cast<float>(I);
    Expected[I] = 2.5f * Y[I] + static_cast<float>(HostScale[I % 4]);
  }
  void *DeviceY = toDevice(Plugin, Y);
  float A = 2.5f; // by value, 4 bytes, as the region's kernel info record says
  void *Args[] = {DeviceY, &A};
  ptrdiff_t Offsets[] = {0, ByValue};
  if (!DeviceY ||
      Plugin.run_target_team_nd_region(0, Table.EntriesBegin[SaxpyEntry].address, Args, Offsets,
                                       2, 16, 64, nullptr) != 0 ||
      !fromDevice(Plugin, Y, DeviceY))
    return report("saxpy", "launch failed", false);
  Plugin.data_delete(0, DeviceY);
  bool Same = Y == Expected;
  char Text[96];
  std::snprintf(Text, sizeof(Text), "y[0] = %g, y[1] = %g, y[1023] = %g", Y[0], Y[1], Y[1023]);
  return report("saxpy", Text, Same);
}

// One work-item sums 1..100 plus the counter (7 by now); the output goes through an offset
// pointer.
bool runSum(HostPlugin &Plugin, const TargetTable &Table, int32_t Counter) {
  std::vector<int64_t> In(100), Out(2, 0);
  int64_t Expected = Counter;
  for (size_t I = 0; I < In.size(); ++I)
    Expected += In[I] = static_cast<int64_t>(I + 1);
  void *DeviceIn = toDevice(Plugin, In);
  void *DeviceOut = toDevice(Plugin, Out);
  void *Args[] = {DeviceOut, DeviceIn, reinterpret_cast<void *>(In.size())};
  ptrdiff_t Offsets[] = {sizeof(int64_t), 0, ByValue};
  if (!DeviceIn || !DeviceOut ||
      Plugin.run_target_team_nd_region(0, Table.EntriesBegin[SumEntry].address, Args, Offsets, 3,
                                       1, 1, nullptr) != 0 ||
      !fromDevice(Plugin, Out, DeviceOut))
    return report("sum", "launch failed", false);
  Plugin.data_delete(0, DeviceIn);
  Plugin.data_delete(0, DeviceOut);
  return report("sum", "1 + ... + 100 + counter = " + std::to_string(Out[1]),
                Out[1] == Expected && Out[0] == 0);
}

// A loop region over a 10 x 100 grid, sized from its loop descriptor (an ND-range launch).
bool runGrid(HostPlugin &Plugin, const TargetTable &Table) {
  const int64_t Cols = 100, Rows = 10;
  std::vector<int64_t> Grid(Cols * Rows, -1);
  void *DeviceGrid = toDevice(Plugin, Grid);
  LoopDescriptor Loops = {2, 0, {{0, Cols - 1, 1}, {0, Rows - 1, 1}, {0, 0, 0}}};
  void *Args[] = {DeviceGrid, reinterpret_cast<void *>(Cols), reinterpret_cast<void *>(Rows)};
  ptrdiff_t Offsets[] = {0, ByValue, ByValue};
  if (!DeviceGrid ||
      Plugin.run_target_team_nd_region(0, Table.EntriesBegin[GridEntry].address, Args, Offsets, 3,
                                       0, 0, &Loops) != 0 ||
      !fromDevice(Plugin, Grid, DeviceGrid))
    return report("grid", "launch failed", false);
  Plugin.data_delete(0, DeviceGrid);
  bool Same = true;
  for (int64_t J = 0; J < Rows; ++J)
    for (int64_t I = 0; I < Cols; ++I)
      Same &= Grid[J * Cols + I] == J * 1000 + I;
  char Text[96];
  std::snprintf(Text, sizeof(Text), "grid[0][0] = %lld, grid[9][99] = %lld",
                static_cast<long long>(Grid[0]), static_cast<long long>(Grid.back()));
  return report("grid", Text, Same);
}

// Loads the image on device 0; 0 when everything worked.
int loadImage(HostPlugin &Plugin, const std::string &ImagePath) {
  std::ifstream In(ImagePath, std::ios::binary);
  std::vector<char> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (Bytes.empty()) {
    std::fprintf(stderr, "demo: cannot read %s\n", ImagePath.c_str());
    return 1;
  }
  DeviceImage Image = {Bytes.data(), Bytes.data() + Bytes.size(), std::begin(HostEntries),
                       std::end(HostEntries)};
  std::printf("demo: is_valid_binary(%s) -> %d\n", ImagePath.c_str(),
              Plugin.is_valid_binary(&Image));
  TargetTable *Table = Plugin.load_binary(0, &Image);
  std::printf("demo: load_binary(0) -> %s\n", Table ? "a table of device entries" : "null");
  if (!Table)
    return 1;
  printEntries(*Table);
  if (!exerciseVariables(Plugin, *Table))
    return 1;
  bool Ok = runSaxpy(Plugin, *Table);
  Ok &= runSum(Plugin, *Table, 7);
  Ok &= runGrid(Plugin, *Table);
  return Ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0); // keep our lines in order with the plugin's stderr
  std::string Path = argc > 1 ? argv[1] : DEMO_PLUGIN_PATH;
#ifdef DEMO_IMAGE_PATH
  std::string ImagePath = argc > 2 ? argv[2] : DEMO_IMAGE_PATH;
#else
  std::string ImagePath = argc > 2 ? argv[2] : "";
#endif
  HostPlugin Plugin;
  std::string Error;
  std::printf("demo: loading %s\n", Path.c_str());
  if (!loadHostPlugin(Path, Plugin, Error)) {
    std::fprintf(stderr, "demo: cannot load the plugin: %s\n", Error.c_str());
    return 1;
  }
  BinaryDescriptor Desc{};
  std::printf("demo: register_lib -> %d\n", Plugin.register_lib(&Desc));
  int Status = 0;
  int32_t Count = Plugin.number_of_devices();
  std::printf("demo: number_of_devices -> %d\n", Count);
  for (int32_t Id = 0; Id < Count; ++Id) {
    int32_t Rc = Plugin.init_device(Id);
    std::printf("demo: init_device(%d) -> %d\n", Id, Rc);
    char Name[256];
    if (Rc == 0 && Plugin.get_device_name(Id, Name, sizeof(Name)))
      std::printf("demo: device %d is \"%s\"\n", Id, Name);
    if (Id == 0 && Rc == 0 && !ImagePath.empty())
      Status = loadImage(Plugin, ImagePath);
  }
  std::printf("demo: unregister_lib -> %d\n", Plugin.unregister_lib(&Desc));
  unloadHostPlugin(Plugin);
  std::printf("demo: %s\n", Status == 0 ? "done" : "failed");
  return Status;
}
