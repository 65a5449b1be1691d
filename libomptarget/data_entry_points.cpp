// The compiler's data mapping calls: target data, target enter/exit data and target update.
#include "debug.h"
#include "device_select.h"
#include "offload_policy.h"
#include "runtime.h"
#include "user_mappers.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum class DataOp { Begin, End, Update };

void mapData(DataOp Op, const void *Loc, int64_t DeviceId, int32_t ArgNum, void **ArgsBase,
             void **Args, int64_t *ArgSizes, int64_t *ArgTypes, void **ArgNames, void **ArgMappers,
             const char *Call) {
  const char *Construct = Op == DataOp::Begin ? "target enter data (or start of target data)"
                          : Op == DataOp::End ? "target exit data (or end of target data)"
                                              : "target update";
  int32_t Device = selectDevice(DeviceId, Construct, Loc, Call);
  if (Device < 0)
    return;
  std::unique_lock<std::mutex> Guard;
  DeviceState *State = readyDevice(Device, Guard);
  if (!State) {
    offloadFailed(Construct, Loc, Call, "the device could not be made ready");
    return;
  }
  ExpandedMapList Expanded;
  MapList List =
      expandMappers({ArgNum, ArgsBase, Args, ArgSizes, ArgTypes, ArgNames}, ArgMappers, Expanded);
  DeviceOps Ops = pluginOps(Device);
  int32_t Rc = Op == DataOp::Begin ? mapBegin(State->Mappings, Ops, List, RefKind::Dynamic, nullptr)
               : Op == DataOp::End ? mapEnd(State->Mappings, Ops, List, RefKind::Dynamic)
                                   : mapUpdate(State->Mappings, Ops, List);
  if (Rc != 0)
    offloadFailed(Construct, Loc, Call, "mapping the construct's data failed");
}

} // namespace

// Structured target data regions count as dynamic references here: the compiler calls the same
// entry points for them as for enter/exit data, and each begin is paired with its end.
EXPORT void __tgt_target_data_begin_mapper(void *Loc, int64_t DeviceId, int32_t ArgNum,
                                           void **ArgsBase, void **Args, int64_t *ArgSizes,
                                           int64_t *ArgTypes, void **ArgNames, void **ArgMappers) {
  noThrow("__tgt_target_data_begin_mapper", [&] {
    mapData(DataOp::Begin, Loc, DeviceId, ArgNum, ArgsBase, Args, ArgSizes, ArgTypes, ArgNames,
            ArgMappers, "__tgt_target_data_begin_mapper");
  });
}

EXPORT void __tgt_target_data_end_mapper(void *Loc, int64_t DeviceId, int32_t ArgNum,
                                         void **ArgsBase, void **Args, int64_t *ArgSizes,
                                         int64_t *ArgTypes, void **ArgNames, void **ArgMappers) {
  noThrow("__tgt_target_data_end_mapper", [&] {
    mapData(DataOp::End, Loc, DeviceId, ArgNum, ArgsBase, Args, ArgSizes, ArgTypes, ArgNames,
            ArgMappers, "__tgt_target_data_end_mapper");
  });
}

EXPORT void __tgt_target_data_update_mapper(void *Loc, int64_t DeviceId, int32_t ArgNum,
                                            void **ArgsBase, void **Args, int64_t *ArgSizes,
                                            int64_t *ArgTypes, void **ArgNames, void **ArgMappers) {
  noThrow("__tgt_target_data_update_mapper", [&] {
    mapData(DataOp::Update, Loc, DeviceId, ArgNum, ArgsBase, Args, ArgSizes, ArgTypes, ArgNames,
            ArgMappers, "__tgt_target_data_update_mapper");
  });
}

// The nowait forms run inside the task the compiler created; dependences were the task's.
EXPORT void __tgt_target_data_begin_nowait_mapper(void *Loc, int64_t DeviceId, int32_t ArgNum,
                                                  void **ArgsBase, void **Args, int64_t *ArgSizes,
                                                  int64_t *ArgTypes, void **ArgNames,
                                                  void **ArgMappers, int32_t, void *, int32_t,
                                                  void *) {
  noThrow("__tgt_target_data_begin_nowait_mapper", [&] {
    mapData(DataOp::Begin, Loc, DeviceId, ArgNum, ArgsBase, Args, ArgSizes, ArgTypes, ArgNames,
            ArgMappers, "__tgt_target_data_begin_nowait_mapper");
  });
}

EXPORT void __tgt_target_data_end_nowait_mapper(void *Loc, int64_t DeviceId, int32_t ArgNum,
                                                void **ArgsBase, void **Args, int64_t *ArgSizes,
                                                int64_t *ArgTypes, void **ArgNames,
                                                void **ArgMappers, int32_t, void *, int32_t,
                                                void *) {
  noThrow("__tgt_target_data_end_nowait_mapper", [&] {
    mapData(DataOp::End, Loc, DeviceId, ArgNum, ArgsBase, Args, ArgSizes, ArgTypes, ArgNames,
            ArgMappers, "__tgt_target_data_end_nowait_mapper");
  });
}

EXPORT void __tgt_target_data_update_nowait_mapper(void *Loc, int64_t DeviceId, int32_t ArgNum,
                                                   void **ArgsBase, void **Args, int64_t *ArgSizes,
                                                   int64_t *ArgTypes, void **ArgNames,
                                                   void **ArgMappers, int32_t, void *, int32_t,
                                                   void *) {
  noThrow("__tgt_target_data_update_nowait_mapper", [&] {
    mapData(DataOp::Update, Loc, DeviceId, ArgNum, ArgsBase, Args, ArgSizes, ArgTypes, ArgNames,
            ArgMappers, "__tgt_target_data_update_nowait_mapper");
  });
}
