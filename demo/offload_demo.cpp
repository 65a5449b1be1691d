// The demo: loads the plugin the way the offload host runtime does and walks the host runtime's
// call order as far as the plugin's entry points go. Run it with LIBOMPTARGET_DEBUG=1 to see the
// plugin's own account on standard error.
#include "host_plugin.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0); // keep our lines in order with the plugin's stderr
  std::string Path = argc > 1 ? argv[1] : DEMO_PLUGIN_PATH;
  HostPlugin Plugin;
  std::string Error;
  std::printf("demo: loading %s\n", Path.c_str());
  if (!loadHostPlugin(Path, Plugin, Error)) {
    std::fprintf(stderr, "demo: cannot load the plugin: %s\n", Error.c_str());
    return 1;
  }
  BinaryDescriptor Desc{};
  std::printf("demo: register_lib -> %d\n", Plugin.register_lib(&Desc));
  if (Plugin.number_of_devices) {
    int32_t Count = Plugin.number_of_devices();
    std::printf("demo: number_of_devices -> %d\n", Count);
    for (int32_t Id = 0; Id < Count && Plugin.init_device; ++Id) {
      int32_t Rc = Plugin.init_device(Id);
      std::printf("demo: init_device(%d) -> %d\n", Id, Rc);
      char Name[256];
      if (Rc == 0 && Plugin.get_device_name && Plugin.get_device_name(Id, Name, sizeof(Name)))
        std::printf("demo: device %d is \"%s\"\n", Id, Name);
    }
  }
  std::printf("demo: unregister_lib -> %d\n", Plugin.unregister_lib(&Desc));
  unloadHostPlugin(Plugin);
  std::printf("demo: done\n");
  return 0;
}
