// A stand-in for the offload host runtime's plugin loading: it opens the plugin with dlopen, as
// the host runtime does, resolves the exported entry points, and drives them in the host runtime's
// call order. Tests, tools and the demo use it to run the plugin for real.
#ifndef HOSTRT_HOST_PLUGIN_H
#define HOSTRT_HOST_PLUGIN_H

#include "omptarget_interop.h"
#include "omptarget_records.h"
#include "ompt_host_state.h"

#include <cstdint>
#include <string>

// Each entry point the stand-in knows: name and signature. Missing ones resolve to null.
#define HOSTRT_ENTRY_POINTS(X)                                                                     \
  X(register_lib, int32_t, BinaryDescriptor *)                                                     \
  X(unregister_lib, int32_t, BinaryDescriptor *)                                                   \
  X(number_of_devices, int32_t)                                                                    \
  X(init_requires, int64_t, int64_t)                                                               \
  X(init_device, int32_t, int32_t)                                                                 \
  X(get_context_handle, void *, int32_t)                                                           \
  X(get_device_name, char *, int32_t, char *, size_t)                                              \
  X(is_supported_device, int32_t, int32_t, uint64_t)                                               \
  X(get_device_info, int32_t, int32_t, uint32_t, size_t, void *, size_t *)                         \
  X(is_valid_binary, int32_t, DeviceImage *)                                                      \
  X(load_binary, TargetTable *, int32_t, DeviceImage *)                                            \
  X(add_build_options, void, const char *, const char *)                                           \
  X(data_alloc, void *, int32_t, int64_t, void *, int32_t)                                         \
  X(data_alloc_base, void *, int32_t, int64_t, void *, void *, int32_t)                            \
  X(data_aligned_alloc, void *, int32_t, uint64_t, int64_t, int32_t)                               \
  X(data_realloc, void *, int32_t, void *, int64_t, int32_t)                                       \
  X(data_delete, int32_t, int32_t, void *)                                                         \
  X(requires_mapping, int32_t, int32_t, void *, int64_t)                                           \
  X(get_data_alloc_info, int32_t, int32_t, int32_t, void **, DataAllocInfo *)                      \
  X(is_accessible_addr_range, int32_t, int32_t, const void *, size_t)                              \
  X(get_device_from_ptr, int32_t, const void *)                                                    \
  X(notify_indirect_access, int32_t, int32_t, const void *, uint64_t)                              \
  X(data_submit, int32_t, int32_t, void *, void *, int64_t)                                        \
  X(data_submit_async, int32_t, int32_t, void *, void *, int64_t, void *)                          \
  X(data_retrieve, int32_t, int32_t, void *, void *, int64_t)                                      \
  X(data_retrieve_async, int32_t, int32_t, void *, void *, int64_t, void *)                        \
  X(is_data_exchangable, int32_t, int32_t, int32_t)                                                \
  X(data_exchange, int32_t, int32_t, void *, int32_t, void *, int64_t)                             \
  X(run_target_team_nd_region, int32_t, int32_t, void *, void **, ptrdiff_t *, int32_t, int32_t,  \
    int32_t, void *)                                                                               \
  X(launch_kernel, int32_t, int32_t, void *, void **, ptrdiff_t *, KernelArgs *)                   \
  X(manifest_data_for_region, int32_t, int32_t, void *, void **, size_t)                           \
  X(is_private_arg_on_host, int32_t, int32_t, const void *, uint32_t)                              \
  X(set_function_ptr_map, int32_t, int32_t, uint64_t, const void *)                                \
  X(create_interop, InteropRecord *, int32_t, int32_t)                                             \
  X(release_interop, int32_t, int32_t, InteropRecord *)                                            \
  X(use_interop, int32_t, int32_t, InteropRecord *)                                                \
  X(get_interop_property_value, int32_t, int32_t, InteropRecord *, int32_t, int32_t, size_t,      \
    void *)                                                                                        \
  X(get_interop_property_info, const char *, int32_t, int32_t, int32_t)                            \
  X(get_num_interop_properties, int32_t, int32_t)                                                  \
  X(get_interop_rc_desc, const char *, int32_t, int32_t)                                           \
  X(flush_queue, int32_t, InteropRecord *)                                                         \
  X(sync_barrier, int32_t, InteropRecord *)                                                        \
  X(async_barrier, int32_t, InteropRecord *)                                                       \
  X(synchronize, int32_t, int32_t, void *)                                                         \
  X(init_ompt, void, OmptHostState *)

struct HostPlugin {
  void *Handle = nullptr;
#define HOSTRT_DECLARE(Name, Ret, ...) Ret (*Name)(__VA_ARGS__) = nullptr;
  HOSTRT_ENTRY_POINTS(HOSTRT_DECLARE)
#undef HOSTRT_DECLARE
};

// Loads the plugin library at Path; false with a reason in Error when it cannot be loaded or lacks
// the registration entry points every plugin has.
bool loadHostPlugin(const std::string &Path, HostPlugin &Plugin, std::string &Error);

// Closes the library (the plugin's static destructors run).
void unloadHostPlugin(HostPlugin &Plugin);

#endif
