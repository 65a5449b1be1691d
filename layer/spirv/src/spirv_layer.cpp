// The SPIR-V layer: what it gives the shared entry points, and the device and platform queries
// it adds to (SPIR-V support, its extension functions).
#include "device_caps.h"
#include "exception_barrier.h"
#include "info_answer.h"
#include "kernel_hooks.h"
#include "layer_entry.h"
#include "layer_state.h"
#include "program_registry.h"
#include "spirv_functions.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

const char kLayerName[] = "omptarget OpenCL SPIR-V program layer";

bool layerServesDevice(const DeviceCaps &Caps) { return layerTranslatesSpirv(Caps); }

bool layerHoldsMemory(cl_context Context) {
  std::shared_lock<std::shared_mutex> Guard(layerState().Lock);
  return contextHasGlobals(Context);
}

// Program variables keep their own reference to the context: nothing to do here.
void contextReleased(cl_context, const ContextRecord &) {}

namespace {

constexpr const char *kSpirvVersions = "SPIR-V_1.0 SPIR-V_1.1 SPIR-V_1.2 SPIR-V_1.3 SPIR-V_1.4";

cl_int hookGetDeviceInfo(cl_device_id Device, cl_device_info Param, size_t Size,
                                     void *Value, size_t *SizeRet) {
  if (Param != CL_DEVICE_IL_VERSION && Param != CL_DEVICE_ILS_WITH_VERSION &&
      Param != CL_DEVICE_MAX_GLOBAL_VARIABLE_SIZE)
    return gNext.clGetDeviceInfo(Device, Param, Size, Value, SizeRet);
  // Whether the layer adds to the answer must not depend on a query that happened to fail.
  DeviceCaps Caps;
  if (cl_int Error = deviceCaps(Device, Caps))
    return Error;
  if (!layerTranslatesSpirv(Caps))
    return gNext.clGetDeviceInfo(Device, Param, Size, Value, SizeRet);
  if (Param == CL_DEVICE_IL_VERSION)
    return answerText(Size, Value, SizeRet, kSpirvVersions);
  // The layer places program variables, so its limit is the one that holds.
  if (Param == CL_DEVICE_MAX_GLOBAL_VARIABLE_SIZE)
    return answerValue(Size, Value, SizeRet, size_t(kMaxProgramVariableSize));
  std::vector<cl_name_version> List;
  for (cl_uint Minor = 0; Minor <= 4; ++Minor) {
    cl_name_version Entry{};
    Entry.version = CL_MAKE_VERSION(1, Minor, 0);
    std::strncpy(Entry.name, "SPIR-V", CL_NAME_VERSION_MAX_NAME_SIZE - 1);
    List.push_back(Entry);
  }
  return answerBytes(Size, Value, SizeRet, List.data(), List.size() * sizeof(cl_name_version));
}

void *const kSpecConstantFunction =
    reinterpret_cast<void *>(guarded<layerSetProgramSpecializationConstant>);

void *ownFunction(const char *Name) {
  if (Name && std::strcmp(Name, "clGetDeviceGlobalVariablePointerTARNO") == 0)
    return reinterpret_cast<void *>(guarded<layerGetDeviceGlobalVariablePointer>);
  if (Name && std::strcmp(Name, "clSetProgramSpecializationConstant") == 0)
    return kSpecConstantFunction;
  return nullptr;
}

void *hookGetExtensionFunctionAddressForPlatform(cl_platform_id Platform,
                                                             const char *Name) {
  void *Own = ownFunction(Name);
  if (Own) {
    cl_int Served = platformServed(Platform, layerTranslatesSpirv);
    if (Served == CL_SUCCESS)
      return Own;
    if (Served != CL_INVALID_PLATFORM)
      return nullptr;
  }
  void *Below = gNext.clGetExtensionFunctionAddressForPlatform(Platform, Name);
  // The specialisation-constant entry forwards what it does not own, so it is always safe.
  if (!Below && Own == kSpecConstantFunction)
    return Own;
  return Below;
}

void *hookGetExtensionFunctionAddress(const char *Name) {
  if (void *Own = ownFunction(Name))
    return Own;
  return gNext.clGetExtensionFunctionAddress(Name);
}

} // namespace

void installLayerHooks(cl_icd_dispatch &Table) {
  installTrackingHooks(Table);
  installKernelHooks(Table);
  installProgramHooks(Table);
  Table.clGetDeviceInfo = guarded<hookGetDeviceInfo>;
  Table.clGetExtensionFunctionAddressForPlatform =
      guarded<hookGetExtensionFunctionAddressForPlatform>;
  Table.clGetExtensionFunctionAddress = guarded<hookGetExtensionFunctionAddress>;
}
