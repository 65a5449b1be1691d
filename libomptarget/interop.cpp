// The interop construct and the OpenMP interop routines over the plugin's interop records. The
// host OpenMP runtime's omp_get_interop_* forward here (the next definition after its own).
#include "debug.h"
#include "device_select.h"
#include "runtime.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int omp_get_num_interop_properties(const void *Interop);

namespace {

// omp_interop_rc_t
enum : int {
  RcNoValue = 1,
  RcSuccess = 0,
  RcEmpty = -1,
  RcOutOfRange = -2,
  RcTypeInt = -3,
  RcTypePtr = -4,
  RcTypeStr = -5
};
enum class PropertyType { Int, Ptr, Str };

// The compiler's interop types: 1 target, 2 targetsync; the plugin's kinds: 0 and 1.
int32_t pluginKind(int32_t InteropType) { return InteropType == 2 ? 1 : 0; }

// The record's slot of a standard property (-1 to -9), with its type.
bool standardSlot(const InteropRecord *R, int Property, PropertyType &Type, const void *&Slot) {
  if (Property < -9 || Property > -1)
    return false;
  static const PropertyType Types[9] = {PropertyType::Int, PropertyType::Str, PropertyType::Int,
                                        PropertyType::Str, PropertyType::Int, PropertyType::Ptr,
                                        PropertyType::Ptr, PropertyType::Ptr, PropertyType::Ptr};
  Type = Types[-Property - 1];
  Slot = reinterpret_cast<const char *>(R) + (-Property - 1) * 8;
  return true;
}

// Reads a property of the wanted type: the rc through Err, the slot's value or null.
const void *readProperty(const void *Interop, int Property, PropertyType Wanted, int *Err) {
  int Rc = RcSuccess;
  const void *Slot = nullptr;
  PropertyType Type;
  const InteropRecord *R = static_cast<const InteropRecord *>(Interop);
  if (!R)
    Rc = RcEmpty;
  else if (!standardSlot(R, Property, Type, Slot))
    Rc = Property >= 0 && Property < omp_get_num_interop_properties(Interop) ? RcNoValue
                                                                             : RcOutOfRange;
  else if (Type != Wanted)
    Rc = Type == PropertyType::Int ? RcTypeInt : Type == PropertyType::Ptr ? RcTypePtr : RcTypeStr;
  if (Err)
    *Err = Rc;
  return Rc == RcSuccess ? Slot : nullptr;
}

int32_t recordDevice(const void *Interop) {
  return static_cast<int32_t>(static_cast<const InteropRecord *>(Interop)->device_num);
}

} // namespace

EXPORT void __tgt_interop_init(void *Loc, int32_t, void **Interop, int32_t InteropType,
                               int32_t DeviceId, int32_t, void *, int32_t) {
  noThrow("__tgt_interop_init", [&] {
    if (!Interop)
      return;
    *Interop = nullptr;
    int32_t Device = selectDevice(DeviceId, "interop construct", Loc, "__tgt_interop_init");
    std::unique_lock<std::mutex> Guard;
    if (Device < 0 || !readyDevice(Device, Guard) || !runtimeState().Plugin.create_interop)
      return;
    *Interop = runtimeState().Plugin.create_interop(Device, pluginKind(InteropType));
    if (!*Interop)
      hostMessage("the interop object for device %d could not be created\n", Device);
  });
}

EXPORT void __tgt_interop_use(void *, int32_t, void **Interop, int32_t, int32_t, void *, int32_t) {
  noThrow("__tgt_interop_use", [&] {
    if (Interop && *Interop && runtimeState().Plugin.use_interop &&
        runtimeState().Plugin.use_interop(recordDevice(*Interop),
                                          static_cast<InteropRecord *>(*Interop)) != 0)
      hostMessage("using the interop object failed\n");
  });
}

EXPORT void __tgt_interop_destroy(void *, int32_t, void **Interop, int32_t, int32_t, void *,
                                  int32_t) {
  noThrow("__tgt_interop_destroy", [&] {
    if (!Interop || !*Interop || !runtimeState().Plugin.release_interop)
      return;
    if (runtimeState().Plugin.release_interop(recordDevice(*Interop),
                                              static_cast<InteropRecord *>(*Interop)) != 0)
      hostMessage("releasing the interop object failed\n");
    else
      *Interop = nullptr;
  });
}

EXPORT intptr_t omp_get_interop_int(const void *Interop, int Property, int *Err) {
  const void *Slot = readProperty(Interop, Property, PropertyType::Int, Err);
  return Slot ? *static_cast<const intptr_t *>(Slot) : 0;
}

EXPORT void *omp_get_interop_ptr(const void *Interop, int Property, int *Err) {
  const void *Slot = readProperty(Interop, Property, PropertyType::Ptr, Err);
  return Slot ? *static_cast<void *const *>(Slot) : nullptr;
}

EXPORT const char *omp_get_interop_str(const void *Interop, int Property, int *Err) {
  const void *Slot = readProperty(Interop, Property, PropertyType::Str, Err);
  return Slot ? *static_cast<const char *const *>(Slot) : nullptr;
}

EXPORT const char *omp_get_interop_name(const void *Interop, int Property) {
  HostPlugin &P = runtimeState().Plugin;
  return Interop && P.get_interop_property_info
             ? P.get_interop_property_info(recordDevice(Interop), Property, 0)
             : nullptr;
}

EXPORT const char *omp_get_interop_type_desc(const void *Interop, int Property) {
  HostPlugin &P = runtimeState().Plugin;
  return Interop && P.get_interop_property_info
             ? P.get_interop_property_info(recordDevice(Interop), Property, 1)
             : nullptr;
}

EXPORT const char *omp_get_interop_rc_desc(const void *Interop, int Rc) {
  HostPlugin &P = runtimeState().Plugin;
  return Interop && P.get_interop_rc_desc ? P.get_interop_rc_desc(recordDevice(Interop), Rc)
                                          : nullptr;
}

EXPORT int omp_get_num_interop_properties(const void *Interop) {
  HostPlugin &P = runtimeState().Plugin;
  return Interop && P.get_num_interop_properties
             ? P.get_num_interop_properties(recordDevice(Interop))
             : 0;
}
