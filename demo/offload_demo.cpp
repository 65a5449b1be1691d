// The demo: loads the plugin the way the offload host runtime does and walks the host runtime's
// call order: registration, devices, then the offload image of a small program, whose device
// entries it prints and whose declare-target variables it reads and writes through the plugin.
// It runs the saxpy region twice under the example OMPT tool (which prints its summary at the end)
// and shows an interop object with a queue of its own.
// Run it with LIBOMPTARGET_DEBUG=1 to see the plugin's own account on standard error.
#include "host_interop.h"
#include "host_plugin.h"
#include "host_tool.h"

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
char CounterName[] = "demo_counter";
char ScaleName[] = "demo_scale";
OffloadEntry HostEntries[] = {
    {reinterpret_cast<void *>(&HostEntries), SaxpyName, 0, 0, 0},
    {&HostCounter, CounterName, sizeof(HostCounter), 0, 0},
    {reinterpret_cast<void *>(&HostEntries[1]), SumName, 0, 0, 0},
    {HostScale, ScaleName, sizeof(HostScale), 0, 0},
};

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
  void *Counter = Table.EntriesBegin[1].address;
  void *Scale = Table.EntriesBegin[3].address;
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

// Runs saxpy (y = a * y + demo_scale[i % 4]) over 256 elements, as 4 teams of 64 and as 8 teams
// of 32, and checks the result; false when a step fails.
bool runSaxpy(HostPlugin &Plugin, HostTool *Tool, const TargetTable &Table) {
  constexpr int N = 256;
  std::vector<float> Y(N, 1.0f);
  void *DevY = Plugin.data_alloc(0, N * sizeof(float), nullptr, 0);
  if (!DevY || Plugin.data_submit(0, DevY, Y.data(), N * sizeof(float)) != 0)
    return false;
  float A = 2.0f;
  void *Args[] = {DevY, &A};
  ptrdiff_t Offsets[] = {0, 0};
  int32_t Teams[] = {4, 8}, Threads[] = {64, 32};
  bool Ok = true;
  for (int Run = 0; Run < 2 && Ok; ++Run) {
    int32_t Rc = runTargetRegion(Plugin, Tool, 0, Table.EntriesBegin[0].address, Args, Offsets,
                                 2, Teams[Run], Threads[Run], "offload_demo.cpp:saxpy");
    std::printf("demo: saxpy with %d teams of %d -> %d\n", Teams[Run], Threads[Run], Rc);
    Ok = Rc == 0;
  }
  Ok = Ok && Plugin.data_retrieve(0, Y.data(), DevY, N * sizeof(float)) == 0;
  Plugin.data_delete(0, DevY);
  // Twice: y = 2 * (2 * 1 + s) + s with s = 1, 2, 3, 4 (demo_scale).
  for (int I = 0; I < N && Ok; ++I)
    Ok = Y[I] == 4.0f + 3.0f * float(I % 4 + 1);
  std::printf("demo: saxpy results %s\n", Ok ? "correct" : "wrong");
  return Ok;
}

// An interop object with a queue of its own, as `omp interop init(targetsync: obj)` makes it.
bool showInterop(HostPlugin &Plugin) {
  InteropRecord *Interop = Plugin.create_interop(0, 1);
  if (!Interop)
    return false;
  int32_t Rc = 0;
  auto Name = [&](int32_t Property) { return Plugin.get_interop_property_info(0, Property, 0); };
  std::printf("demo: interop %s = %ld, %s = %s, %s = %ld, %s %s\n", Name(-1),
              long(interopSlot(Interop, -1, Rc)), Name(-2),
              reinterpret_cast<const char *>(interopSlot(Interop, -2, Rc)), Name(-5),
              long(interopSlot(Interop, -5, Rc)), Name(-9),
              interopSlot(Interop, -9, Rc) ? "set" : "missing");
  int32_t Used = Plugin.use_interop(0, Interop), Synced = Plugin.sync_barrier(Interop);
  std::printf("demo: use_interop -> %d, sync_barrier -> %d\n", Used, Synced);
  int32_t Released = interopDestroy(Plugin, 0, Interop);
  std::printf("demo: release_interop -> %d\n", Released);
  return Used == 0 && Synced == 0 && Released == 0;
}

// Loads the image on device 0 and runs its regions; 0 when everything worked.
int loadImage(HostPlugin &Plugin, HostTool *Tool, const std::string &ImagePath) {
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
  bool Ok = exerciseVariables(Plugin, *Table) && runSaxpy(Plugin, Tool, *Table);
  return Ok && showInterop(Plugin) ? 0 : 1;
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
  // An empty tool path runs the demo without a tool.
  std::string ToolPath = argc > 3 ? argv[3] : DEMO_TOOL_PATH;
  HostPlugin Plugin;
  std::string Error;
  std::printf("demo: loading %s\n", Path.c_str());
  if (!loadHostPlugin(Path, Plugin, Error)) {
    std::fprintf(stderr, "demo: cannot load the plugin: %s\n", Error.c_str());
    return 1;
  }
  HostTool Tool;
  bool WithTool = false;
  if (!ToolPath.empty()) {
    WithTool = loadHostTool(ToolPath, Tool, Error);
    std::printf("demo: tool %s %s%s\n", ToolPath.c_str(), WithTool ? "started" : "not started: ",
                WithTool ? "" : Error.c_str());
  }
  Plugin.init_ompt(WithTool ? &Tool.State : nullptr);
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
      Status = loadImage(Plugin, WithTool ? &Tool : nullptr, ImagePath);
  }
  std::printf("demo: unregister_lib -> %d\n", Plugin.unregister_lib(&Desc));
  unloadHostPlugin(Plugin);
  finalizeHostTool(Tool);
  std::printf("demo: %s\n", Status == 0 ? "done" : "failed");
  return Status;
}
