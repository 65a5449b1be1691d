// The two functions the ICD loader looks for in a layer library; each library links its own copy,
// with its own table, and names itself through layer_entry.h.
#include "layer_entry.h"

#include <cstring>
#include <mutex>

cl_icd_dispatch gNext;

// Everything else is hidden at compile time; these two are the layer's interface.
#define LAYER_EXPORT __attribute__((visibility("default")))

namespace {

cl_icd_dispatch gLayerTable;
bool gInitialised = false;
std::mutex gInitLock;

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
    Bytes = std::strlen(kLayerName) + 1;
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
  installLayerHooks(gLayerTable);
  gInitialised = true;
  *layer_dispatch_ret = &gLayerTable;
  *num_entries_ret = kTableEntries;
  return CL_SUCCESS;
}
