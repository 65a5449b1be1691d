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

#ifdef __cplusplus
}
static_assert(sizeof(OffloadEntry) == 32, "the host's offload entry is 32 bytes");
static_assert(sizeof(DeviceImage) == 4 * sizeof(void *), "the image descriptor is four pointers");
#endif

#endif
