// The demo: loads the plugin the way the offload host runtime does and walks the host runtime's
// call order: registration, devices, then the offload image of a small program, whose device
// entries it prints and whose declare-target variables it reads and writes through the plugin.
// Run it with LIBOMPTARGET_DEBUG=1 to see the plugin's own account on standard error.
#include "host_plugin.h"

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
  return exerciseVariables(Plugin, *Table) ? 0 : 1;
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
