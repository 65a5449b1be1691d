// Registration of the application's offload libraries; the last unregistration shuts down.
#include "frame/debug.h"
#include "frame/plugin_state.h"
#include "omptargetplugin.h"

extern "C" {

int32_t __tgt_rtl_register_lib(BinaryDescriptor * /*Desc*/) {
  // After the last unregistration the plugin has no state left to register with.
  if (!DeviceInfo) {
    DP("Error: cannot register a library after shutdown\n");
    return -1;
  }
  DeviceInfo->NumRegisteredLibs.fetch_add(1);
  return 0;
}

int32_t __tgt_rtl_unregister_lib(BinaryDescriptor * /*Desc*/) {
  // Exactly the decrement that reaches zero shuts the plugin down; an unbalanced call after that
  // finds nothing left to do.
  if (!DeviceInfo)
    return 0;
  if (DeviceInfo->NumRegisteredLibs.fetch_sub(1) == 1)
    closeRTL();
  return 0;
}

} // extern "C"
