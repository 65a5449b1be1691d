// The plugin's exported interface, as the offload host runtime calls it.
//
// Call order the plugin relies on (it keeps no guard against other orders):
//  1. __tgt_rtl_init_ompt once, with the host's tool state or null, before any device work a tool
//     should see.
//  2. __tgt_rtl_register_lib per offload library; __tgt_rtl_is_valid_binary per image.
//  3. __tgt_rtl_number_of_devices once; then __tgt_rtl_init_requires.
//  4. __tgt_rtl_init_device for a device before any image is loaded, memory is allocated or a
//     kernel is launched on it; then __tgt_rtl_load_binary per image for that device.
//  5. Then allocation, transfer, launch, interop and query calls from any host thread, with device
//     numbers below the count of step 3.
//  6. __tgt_rtl_unregister_lib once per registration; nothing else runs while the last one shuts
//     the plugin down.
// Results: status calls return 0 for success and -1 for failure, pointer results are null on
// failure, a device count of 0 means no usable device, predicates return 1 or 0.
#ifndef OMPTARGETPLUGIN_H
#define OMPTARGETPLUGIN_H

#include "omptarget_records.h"

// The version script exports only these; the attribute keeps them visible under
// -fvisibility=hidden.
#define TGT_RTL_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

TGT_RTL_EXPORT int32_t __tgt_rtl_register_lib(BinaryDescriptor *Desc);
TGT_RTL_EXPORT int32_t __tgt_rtl_unregister_lib(BinaryDescriptor *Desc);

// Devices.
TGT_RTL_EXPORT int32_t __tgt_rtl_number_of_devices(void);
TGT_RTL_EXPORT int64_t __tgt_rtl_init_requires(int64_t Flags);
TGT_RTL_EXPORT int32_t __tgt_rtl_init_device(int32_t DeviceId);
TGT_RTL_EXPORT void *__tgt_rtl_get_context_handle(int32_t DeviceId);
TGT_RTL_EXPORT char *__tgt_rtl_get_device_name(int32_t DeviceId, char *Buf, size_t BufMax);
TGT_RTL_EXPORT int32_t __tgt_rtl_is_supported_device(int32_t DeviceId, uint64_t DeviceTypes);
TGT_RTL_EXPORT int32_t __tgt_rtl_get_device_info(int32_t DeviceId, uint32_t Kind, size_t Size,
                                                 void *Value, size_t *SizeRet);

#ifdef __cplusplus
}
#endif

#endif
