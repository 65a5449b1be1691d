// The interop entry points: the host runtime reads the handles from the record itself and asks the
// plugin only for property names and descriptions.
#include "interop/interop_properties.h"
#include "interop/interop_record.h"
#include "omptargetplugin.h"

extern "C" {

InteropRecord *__tgt_rtl_create_interop(int32_t DeviceId, int32_t InteropKind) {
  return createInteropRecord(DeviceId, InteropKind);
}

int32_t __tgt_rtl_release_interop(int32_t DeviceId, InteropRecord *Interop) {
  return releaseInteropRecord(DeviceId, Interop);
}

int32_t __tgt_rtl_use_interop(int32_t DeviceId, InteropRecord *Interop) {
  InteropSnapshot Record;
  if (!snapshotInterop(Interop, &DeviceId, Record))
    return -1;
  return finishInteropQueue(Record.TargetSync, "__tgt_rtl_use_interop");
}

// The plugin defines no properties of its own: 0 (no value written) for a live record, -2 where
// its property block is missing, whichever device number comes with it.
int32_t __tgt_rtl_get_interop_property_value(int32_t DeviceId, InteropRecord *Interop,
                                             int32_t Property, int32_t ValueType, size_t Size,
                                             void *Value) {
  (void)DeviceId, (void)Property, (void)ValueType, (void)Size, (void)Value;
  InteropSnapshot Record;
  if (!snapshotInterop(Interop, nullptr, Record))
    return -1;
  return Record.HasPluginProperty ? 0 : -2;
}

const char *__tgt_rtl_get_interop_property_info(int32_t DeviceId, int32_t Property,
                                                int32_t InfoKind) {
  (void)DeviceId;
  return interopPropertyInfo(Property, InfoKind);
}

int32_t __tgt_rtl_get_num_interop_properties(int32_t DeviceId) {
  (void)DeviceId;
  return 0;
}

const char *__tgt_rtl_get_interop_rc_desc(int32_t DeviceId, int32_t RetCode) {
  (void)DeviceId, (void)RetCode;
  return nullptr;
}

} // extern "C"
