#include "host_plugin.h"

#include <dlfcn.h>

bool loadHostPlugin(const std::string &Path, HostPlugin &Plugin, std::string &Error) {
  // The host runtime keeps plugin symbols to the plugin: RTLD_LOCAL, resolved at load.
  Plugin.Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Plugin.Handle) {
    const char *Reason = dlerror();
    Error = Reason ? Reason : "dlopen failed";
    return false;
  }
#define HOSTRT_RESOLVE(Name, Ret, ...)                                                             \
  Plugin.Name = reinterpret_cast<Ret (*)(__VA_ARGS__)>(dlsym(Plugin.Handle, "__tgt_rtl_" #Name));
  HOSTRT_ENTRY_POINTS(HOSTRT_RESOLVE)
#undef HOSTRT_RESOLVE
  if (!Plugin.register_lib || !Plugin.unregister_lib) {
    Error = "the library lacks __tgt_rtl_register_lib or __tgt_rtl_unregister_lib";
    unloadHostPlugin(Plugin);
    return false;
  }
  return true;
}

void unloadHostPlugin(HostPlugin &Plugin) {
  if (Plugin.Handle)
    dlclose(Plugin.Handle);
  Plugin = HostPlugin();
}
