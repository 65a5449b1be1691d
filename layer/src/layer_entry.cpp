// The two functions the ICD loader looks for in a layer library.
#include "kernel_hooks.h"
#include "layer_state.h"
#include "opencl_api.h"
#include "program_registry.h"

#include <cstring>
#include <mutex>

void installQueryHooks(cl_icd_dispatch &Table);

cl_icd_dispatch gNext;

// Everything else is hidden at compile time; these two are the layer's interface.
#define LAYER_EXPORT __attribute__((visibility("default")))

namespace {

cl_icd_dispatch gLayerTable;
bool gInitialised = false;
std::mutex gInitLock;

constexpr const char kLayerName[] = "omptarget OpenCL shared-memory and SPIR-V layer";
constexpr cl_uint kTableEntries = sizeof(cl_icd_dispatch) / sizeof(void *);

} // namespace

extern "C" LAYER_EXPORT cl_int CL_API_CALL clGetLayerInfo(cl_layer_info param_name,
                                                          size_t param_value_size,
                                                          void *param_value,
                                                          size_t *param_value_size_ret) {
  const void *Data = nullptr;
  size_t Bytes = 0;
  cl_layer_api_version Version = CL_LAYER_API_VERSION_100;
  switch (param_name) {
  case CL_LAYER_API_VERSION:
    Data = &Version;
    Bytes = sizeof(Version);
    break;
  case CL_LAYER_NAME:
    Data = kLayerName;
    Bytes = sizeof(kLayerName);
    break;
  default:
    return CL_INVALID_VALUE;
  }
  if (param_value) {
    if (param_value_size < Bytes)
      return CL_INVALID_VALUE;
    std::memcpy(param_value, Data, Bytes);
  }
  if (param_value_size_ret)
    *param_value_size_ret = Bytes;
  return CL_SUCCESS;
}

extern "C" LAYER_EXPORT cl_int CL_API_CALL clInitLayer(cl_uint num_entries,
                                                       const cl_icd_dispatch *target_dispatch,
                                                       cl_uint *num_entries_ret,
                                                       const cl_icd_dispatch **layer_dispatch_ret) {
  if (!target_dispatch || !num_entries_ret || !layer_dispatch_ret)
    return CL_INVALID_VALUE;
  // Every hook may call any entry of the level below.
  if (num_entries < kTableEntries)
    return CL_INVALID_VALUE;
  std::lock_guard<std::mutex> Guard(gInitLock);
  if (gInitialised) {
    // The same library named twice in the layer list: the second level passes straight through,
    // so nothing is added twice.
    *layer_dispatch_ret = target_dispatch;
    *num_entries_ret = num_entries;
    return CL_SUCCESS;
  }
  std::memcpy(&gNext, target_dispatch, sizeof(cl_icd_dispatch));
  gLayerTable = gNext;
  installTrackingHooks(gLayerTable);
  installKernelHooks(gLayerTable);
  installProgramHooks(gLayerTable);
  installQueryHooks(gLayerTable);
  gInitialised = true;
  *layer_dispatch_ret = &gLayerTable;
  *num_entries_ret = kTableEntries;
  return CL_SUCCESS;
}
