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

#include "omptarget_interop.h"
#include "omptarget_records.h"

// The version script exports only these; the attribute keeps them visible under
// -fvisibility=hidden.
#define TGT_RTL_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
// The host runtime's tool state (ompt_host_state.h).
struct OmptHostState;
extern "C" {
#else
typedef struct OmptHostState OmptHostState;
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

// Images. Recognition never fails: an image the plugin cannot load gives 0.
TGT_RTL_EXPORT int32_t __tgt_rtl_is_valid_binary(DeviceImage *Image);
TGT_RTL_EXPORT int32_t elf_check_machine(DeviceImage *Image, uint16_t Machine);
TGT_RTL_EXPORT int32_t elf_is_dynamic(DeviceImage *Image);
// The device entries of the loaded image, valid until shutdown; null on failure.
TGT_RTL_EXPORT TargetTable *__tgt_rtl_load_binary(int32_t DeviceId, DeviceImage *Image);
// Options used by later loads where the environment set none; either may be null.
TGT_RTL_EXPORT void __tgt_rtl_add_build_options(const char *CompileOptions,
                                                const char *LinkOptions);

// Memory. Kinds: 0 device, 1 host, 2 shared, 3 default (device).
TGT_RTL_EXPORT void *__tgt_rtl_data_alloc(int32_t DeviceId, int64_t Size, void *HstPtr,
                                          int32_t Kind);
TGT_RTL_EXPORT void *__tgt_rtl_data_alloc_base(int32_t DeviceId, int64_t Size, void *HstPtr,
                                               void *HstBase, int32_t AllocOption);
TGT_RTL_EXPORT void *__tgt_rtl_data_aligned_alloc(int32_t DeviceId, uint64_t Align, int64_t Size,
                                                  int32_t Kind);
TGT_RTL_EXPORT void *__tgt_rtl_data_realloc(int32_t DeviceId, void *Ptr, int64_t Size,
                                            int32_t Kind);
TGT_RTL_EXPORT int32_t __tgt_rtl_data_delete(int32_t DeviceId, void *TgtPtr);
TGT_RTL_EXPORT int32_t __tgt_rtl_requires_mapping(int32_t DeviceId, void *Ptr, int64_t Size);
TGT_RTL_EXPORT int32_t __tgt_rtl_get_data_alloc_info(int32_t DeviceId, int32_t NumPtrs,
                                                     void **Ptrs, DataAllocInfo *Infos);
TGT_RTL_EXPORT int32_t __tgt_rtl_is_accessible_addr_range(int32_t DeviceId, const void *Ptr,
                                                          size_t Size);
TGT_RTL_EXPORT int32_t __tgt_rtl_get_device_from_ptr(const void *Ptr);
TGT_RTL_EXPORT int32_t __tgt_rtl_notify_indirect_access(int32_t DeviceId, const void *Ptr,
                                                        uint64_t Offset);

// Transfers. Every copy has completed when the call returns; the async forms ignore AsyncInfo.
TGT_RTL_EXPORT int32_t __tgt_rtl_data_submit(int32_t DeviceId, void *TgtPtr, void *HstPtr,
                                             int64_t Size);
TGT_RTL_EXPORT int32_t __tgt_rtl_data_submit_async(int32_t DeviceId, void *TgtPtr, void *HstPtr,
                                                   int64_t Size, void *AsyncInfo);
TGT_RTL_EXPORT int32_t __tgt_rtl_data_retrieve(int32_t DeviceId, void *HstPtr, void *TgtPtr,
                                               int64_t Size);
TGT_RTL_EXPORT int32_t __tgt_rtl_data_retrieve_async(int32_t DeviceId, void *HstPtr, void *TgtPtr,
                                                     int64_t Size, void *AsyncInfo);
TGT_RTL_EXPORT int32_t __tgt_rtl_is_data_exchangable(int32_t SrcDevId, int32_t DstDevId);
TGT_RTL_EXPORT int32_t __tgt_rtl_data_exchange(int32_t SrcDevId, void *SrcPtr, int32_t DstDevId,
                                               void *DstPtr, int64_t Size);

// Launches. Each returns once the kernel has completed; 0 on success, -1 on failure.
TGT_RTL_EXPORT int32_t __tgt_rtl_run_target_team_nd_region(int32_t DeviceId, void *TgtEntryPtr,
                                                           void **TgtArgs, ptrdiff_t *TgtOffsets,
                                                           int32_t NumArgs, int32_t NumTeams,
                                                           int32_t ThreadLimit, void *LoopDesc);
TGT_RTL_EXPORT int32_t __tgt_rtl_launch_kernel(int32_t DeviceId, void *TgtEntryPtr,
                                               void **TgtArgs, ptrdiff_t *TgtOffsets,
                                               KernelArgs *Args);
TGT_RTL_EXPORT int32_t __tgt_rtl_manifest_data_for_region(int32_t DeviceId, void *TgtEntryPtr,
                                                          void **TgtPtrs, size_t NumPtrs);
TGT_RTL_EXPORT int32_t __tgt_rtl_is_private_arg_on_host(int32_t DeviceId, const void *TgtEntryPtr,
                                                        uint32_t ArgIdx);
TGT_RTL_EXPORT int32_t __tgt_rtl_set_function_ptr_map(int32_t DeviceId, uint64_t NumEntries,
                                                      const void *FnPtrs);

// Interop objects. A record is the host's from creation to a successful release; a failed
// release leaves it usable.
TGT_RTL_EXPORT InteropRecord *__tgt_rtl_create_interop(int32_t DeviceId, int32_t InteropKind);
TGT_RTL_EXPORT int32_t __tgt_rtl_release_interop(int32_t DeviceId, InteropRecord *Interop);
TGT_RTL_EXPORT int32_t __tgt_rtl_use_interop(int32_t DeviceId, InteropRecord *Interop);
TGT_RTL_EXPORT int32_t __tgt_rtl_get_interop_property_value(int32_t DeviceId,
                                                            InteropRecord *Interop,
                                                            int32_t Property, int32_t ValueType,
                                                            size_t Size, void *Value);
TGT_RTL_EXPORT const char *__tgt_rtl_get_interop_property_info(int32_t DeviceId,
                                                               int32_t Property,
                                                               int32_t InfoKind);
TGT_RTL_EXPORT int32_t __tgt_rtl_get_num_interop_properties(int32_t DeviceId);
TGT_RTL_EXPORT const char *__tgt_rtl_get_interop_rc_desc(int32_t DeviceId, int32_t RetCode);

// Queues: an interop record's own queue; the rest of the plugin's work is always complete.
TGT_RTL_EXPORT int32_t __tgt_rtl_flush_queue(InteropRecord *Interop);
TGT_RTL_EXPORT int32_t __tgt_rtl_sync_barrier(InteropRecord *Interop);
TGT_RTL_EXPORT int32_t __tgt_rtl_async_barrier(InteropRecord *Interop);
TGT_RTL_EXPORT int32_t __tgt_rtl_synchronize(int32_t DeviceId, void *AsyncInfo);

// The tool interface: the host's tool state, or null without a tool; called once, first.
TGT_RTL_EXPORT void __tgt_rtl_init_ompt(OmptHostState *State);

#ifdef __cplusplus
}
#endif

#endif
