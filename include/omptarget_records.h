// Records shared with the offload host runtime. Their layouts are the host's: the plugin reads the
// host's arrays in place and hands back tables the host reads directly.
#ifndef OMPTARGET_RECORDS_H
#define OMPTARGET_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One entry of an offload table: a target region, a global variable or a function pointer.
typedef struct OffloadEntry {
  void *address;    // host: the host symbol; device table: see the load's documentation
  char *name;       // symbol name shared by host and device
  uint64_t size;    // 0 for functions and target regions, byte size of a global variable
  int32_t flags;    // 0x8: function-pointer entry
  int32_t reserved; // not read by the plugin
} OffloadEntry;

// The host's descriptor of one device image; the plugin never writes it.
typedef struct DeviceImage {
  void *BytesBegin;
  void *BytesEnd; // one past the last byte
  OffloadEntry *EntryTableBegin;
  OffloadEntry *EntryTableEnd;
} DeviceImage;

// The table of device entries the plugin hands back for one loaded image.
typedef struct TargetTable {
  OffloadEntry *EntriesBegin;
  OffloadEntry *EntriesEnd;
} TargetTable;

// The host's descriptor of one offload library (all its images); passed to registration, which
// does not read it.
typedef struct BinaryDescriptor {
  int32_t NumDeviceImages;
  DeviceImage *DeviceImages;
  OffloadEntry *HostEntriesBegin;
  OffloadEntry *HostEntriesEnd;
} BinaryDescriptor;

// What __tgt_rtl_get_data_alloc_info reports per pointer, all measured from the allocation's base.
typedef struct DataAllocInfo {
  uintptr_t Base;  // the start of the allocation holding the pointer
  uint64_t Offset; // the pointer's distance from Base
  uint64_t Extent; // Offset plus the size asked for
} DataAllocInfo;

// One loop of a loop kernel's iteration space: Lb to Ub inclusive, in steps of Stride.
typedef struct LoopLevel {
  int64_t Lb;
  int64_t Ub;
  int64_t Stride;
} LoopLevel;

// The loop descriptor the host runtime passes with a loop kernel: NumLoops (at most 3) loops, the
// innermost first; the loops from TeamsDim on are distributed over teams.
typedef struct LoopDescriptor {
  int32_t NumLoops;
  int32_t TeamsDim;
  LoopLevel Levels[3];
} LoopDescriptor;

// The host runtime's kernel-arguments record of a launch. The plugin reads NumArgs, NumTeams[0]
// and ThreadLimit[0] only.
typedef struct KernelArgs {
  uint32_t Version;
  uint32_t NumArgs;
  void **ArgBasePtrs;
  void **ArgPtrs;
  int64_t *ArgSizes;
  int64_t *ArgTypes;
  void **ArgNames;
  void **ArgMappers;
  uint64_t Tripcount;
  uint64_t Flags;
  uint32_t NumTeams[3];
  uint32_t ThreadLimit[3];
  uint32_t DynCGroupMem;
} KernelArgs;

#ifdef __cplusplus
}
static_assert(offsetof(LoopDescriptor, Levels) == 8 && sizeof(LoopLevel) == 24, "loop descriptor layout");
static_assert(offsetof(KernelArgs, NumArgs) == 4 && offsetof(KernelArgs, NumTeams) == 72 &&
                  offsetof(KernelArgs, ThreadLimit) == 84,
              "kernel-arguments record layout");
static_assert(sizeof(OffloadEntry) == 32, "the host's offload entry is 32 bytes");
static_assert(sizeof(DeviceImage) == 4 * sizeof(void *), "the image descriptor is four pointers");
#endif

#endif
