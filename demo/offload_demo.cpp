// The demo: the plugin driven as the offload host runtime drives it for a small program. It
// registers, initialises the devices, loads the program's offload image on device 0, prints the
// device entries, reads and writes the declare-target variables, and runs the target regions,
// checking each result against the same computation on the host and timing each launch, all
// under the example OMPT tool (which prints its one-line summary at the end), and shows an interop
// object with a queue of its own.
// Run it with LIBOMPTARGET_DEBUG=1 to see the plugin's own account on standard error, and with
// LIBOMPTARGET_PLUGIN_PROFILE=T for the plugin's profile table at the end.
#include "host_interop.h"
#include "host_runtime.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The host side of the demo program: its declare-target variables.
int32_t HostCounter = 42;
int64_t HostScale[4] = {1, 2, 3, 4};

const char *const SaxpyName = "__omp_offloading_demo_saxpy_l12";
const char *const SumName = "__omp_offloading_demo_sum_l30";
const char *const GridName = "__omp_offloading_demo_grid_l40";

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
bool exerciseVariables(HostRuntime &RT, const HostImage &Image) {
  void *Counter = findEntry(Image, "demo_counter");
  void *Scale = findEntry(Image, "demo_scale");
  int32_t Value = 0;
  int64_t Scales[4] = {};
  if (!Counter || !Scale || !copyFrom(RT, 0, &Value, Counter, sizeof(Value)) ||
      !copyFrom(RT, 0, Scales, Scale, sizeof(Scales)))
    return false;
  std::printf("demo: demo_counter = %d, demo_scale = {%lld, %lld, %lld, %lld}\n", Value,
              static_cast<long long>(Scales[0]), static_cast<long long>(Scales[1]),
              static_cast<long long>(Scales[2]), static_cast<long long>(Scales[3]));
  int32_t NewValue = 7;
  if (!copyTo(RT, 0, Counter, &NewValue, sizeof(NewValue)) ||
      !copyFrom(RT, 0, &Value, Counter, sizeof(Value)))
    return false;
  std::printf("demo: demo_counter after writing 7 = %d\n", Value);
  return Value == 7;
}

// Launches a region and reports how long the launch took (first launches include the driver's
// compilation of the kernel for its work-group size).
bool timedLaunch(HostRuntime &RT, const HostImage &Image, const char *Name,
                 const std::vector<LaunchArg> &Args, int32_t NumTeams, int32_t ThreadLimit,
                 const LoopDescriptor *Loops, double &Milliseconds) {
  void *Entry = findEntry(Image, Name);
  auto Begin = std::chrono::steady_clock::now();
  bool Ok = Entry && launchRegion(RT, 0, Entry, Args, NumTeams, ThreadLimit, Loops);
  Milliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Begin).count();
  return Ok;
}

bool report(const char *Region, const std::string &Result, bool Verified, double Milliseconds) {
  std::printf("demo: %s: %s -- %s (%.3f ms)\n", Region, Result.c_str(),
              Verified ? "verified against the host" : "WRONG", Milliseconds);
  return Verified;
}

// saxpy over 1024 floats in 16 teams of 64: y = 2.5 y + scale[i % 4].
bool runSaxpy(HostRuntime &RT, const HostImage &Image) {
  std::vector<float> Y(1024), Expected(1024);
  for (size_t I = 0; I < Y.size(); ++I) {
    Y[I] = static_cast<float>(I);
    Expected[I] = 2.5f * Y[I] + static_cast<float>(HostScale[I % 4]);
  }
  int64_t Bytes = static_cast<int64_t>(Y.size() * sizeof(float));
  void *DeviceY = mapTo(RT, 0, Y.data(), Bytes);
  float A = 2.5f; // by value, 4 bytes, as the region's kernel info record says
  double Ms = 0;
  if (!DeviceY ||
      !timedLaunch(RT, Image, SaxpyName, {LaunchArg::pointer(DeviceY), LaunchArg::byValue(&A)},
                   16, 64, nullptr, Ms) ||
      !copyFrom(RT, 0, Y.data(), DeviceY, Bytes))
    return report("saxpy", "launch failed", false, Ms);
  unmap(RT, 0, DeviceY);
  char Text[96];
  std::snprintf(Text, sizeof(Text), "y[0] = %g, y[1] = %g, y[1023] = %g", Y[0], Y[1], Y[1023]);
  return report("saxpy", Text, Y == Expected, Ms);
}

// One work-item sums 1..100 plus the counter (7 by now); the output goes through an offset
// pointer.
bool runSum(HostRuntime &RT, const HostImage &Image, int32_t Counter) {
  std::vector<int64_t> In(100), Out(2, 0);
  int64_t Expected = Counter;
  for (size_t I = 0; I < In.size(); ++I)
    Expected += In[I] = static_cast<int64_t>(I + 1);
  void *DeviceIn = mapTo(RT, 0, In.data(), 800);
  void *DeviceOut = mapTo(RT, 0, Out.data(), 16);
  double Ms = 0;
  if (!DeviceIn || !DeviceOut ||
      !timedLaunch(RT, Image, SumName,
                   {LaunchArg::pointer(DeviceOut, sizeof(int64_t)), LaunchArg::pointer(DeviceIn),
                    LaunchArg::scalar(In.size())},
                   1, 1, nullptr, Ms) ||
      !copyFrom(RT, 0, Out.data(), DeviceOut, 16))
    return report("sum", "launch failed", false, Ms);
  unmap(RT, 0, DeviceIn);
  unmap(RT, 0, DeviceOut);
  return report("sum", "1 + ... + 100 + counter = " + std::to_string(Out[1]),
                Out[1] == Expected && Out[0] == 0, Ms);
}

// A loop region over a 10 x 100 grid, sized from its loop descriptor (an ND-range launch).
bool runGrid(HostRuntime &RT, const HostImage &Image) {
  const int64_t Cols = 100, Rows = 10;
  std::vector<int64_t> Grid(Cols * Rows, -1);
  int64_t Bytes = static_cast<int64_t>(Grid.size() * sizeof(int64_t));
  void *DeviceGrid = mapTo(RT, 0, Grid.data(), Bytes);
  LoopDescriptor Loops = {2, 0, {{0, Cols - 1, 1}, {0, Rows - 1, 1}, {0, 0, 0}}};
  double Ms = 0;
  if (!DeviceGrid ||
      !timedLaunch(RT, Image, GridName,
                   {LaunchArg::pointer(DeviceGrid), LaunchArg::scalar(Cols), LaunchArg::scalar(Rows)},
                   0, 0, &Loops, Ms) ||
      !copyFrom(RT, 0, Grid.data(), DeviceGrid, Bytes))
    return report("grid", "launch failed", false, Ms);
  unmap(RT, 0, DeviceGrid);
  bool Same = true;
  for (int64_t J = 0; J < Rows; ++J)
    for (int64_t I = 0; I < Cols; ++I)
      Same &= Grid[J * Cols + I] == J * 1000 + I;
  char Text[96];
  std::snprintf(Text, sizeof(Text), "grid[0][0] = %lld, grid[9][99] = %lld",
                static_cast<long long>(Grid[0]), static_cast<long long>(Grid.back()));
  return report("grid", Text, Same, Ms);
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

// Loads the image on device 0 and runs everything; true when all of it worked.
bool runProgram(HostRuntime &RT, const std::string &ImagePath) {
  HostImage Image;
  Image.region(SaxpyName)
      .variable("demo_counter", &HostCounter, sizeof(HostCounter))
      .region(SumName)
      .variable("demo_scale", HostScale, sizeof(HostScale))
      .region(GridName);
  if (!readImageFile(ImagePath, Image))
    return false;
  TargetTable *Table = loadImage(RT, 0, Image);
  std::printf("demo: load_binary(0) of %s -> %s\n", ImagePath.c_str(),
              Table ? "a table of device entries" : "null");
  if (!Table)
    return false;
  printEntries(*Table);
  if (!exerciseVariables(RT, Image))
    return false;
  bool Ok = runSaxpy(RT, Image);
  Ok &= runSum(RT, Image, 7);
  Ok &= runGrid(RT, Image);
  return showInterop(RT.Plugin) && Ok;
}

} // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0); // keep our lines in order with the plugin's stderr
  std::string PluginPath = argc > 1 ? argv[1] : DEMO_PLUGIN_PATH;
#ifdef DEMO_IMAGE_PATH
  std::string ImagePath = argc > 2 ? argv[2] : DEMO_IMAGE_PATH;
#else
  std::string ImagePath = argc > 2 ? argv[2] : "";
#endif
  // An empty tool path runs the demo without a tool.
  std::string ToolPath = argc > 3 ? argv[3] : DEMO_TOOL_PATH;
  HostRuntime RT;
  HostTool Tool;
  if (!ToolPath.empty()) {
    std::string Error;
    bool Started = loadHostTool(ToolPath, Tool, Error);
    std::printf("demo: tool %s %s%s\n", ToolPath.c_str(), Started ? "started" : "not started: ",
                Started ? "" : Error.c_str());
    RT.Tool = Started ? &Tool : nullptr;
  }
  std::printf("demo: loading %s\n", PluginPath.c_str());
  bool Ok = startHostRuntime(RT, PluginPath);
  if (Ok) {
    std::printf("demo: %d device(s) initialised\n", RT.NumDevices);
    for (int32_t Id = 0; Id < RT.NumDevices; ++Id) {
      char Name[256];
      if (RT.Plugin.get_device_name(Id, Name, sizeof(Name)))
        std::printf("demo: device %d is \"%s\"\n", Id, Name);
    }
    if (ImagePath.empty()) {
      std::fprintf(stderr, "demo: no offload image was built (clang-15 or llvm-spirv-15 missing)\n");
      Ok = false;
    } else {
      Ok = runProgram(RT, ImagePath);
    }
  }
  stopHostRuntime(RT); // the plugin prints its profile table here when profiling is on
  finalizeHostTool(Tool);
  std::printf("demo: %s\n", Ok ? "done" : "failed");
  return Ok ? 0 : 1;
}
