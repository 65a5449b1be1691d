// The device's own offload table: read once per program, validated, and searched by name for the
// device addresses of globals and functions.
#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "program/program.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr size_t TableRecordSize = sizeof(OffloadTableEntry);
// Symbol names, long mangled ones included, stay far below this; a larger size means a corrupt
// table, whose name address is not to be trusted for a copy of that size either.
constexpr size_t MaxNameSize = size_t(1) << 16;
// Programs have at most thousands of entries; a size claiming more is corrupt, and allocating
// host memory for it (up to the whole address space) is not to be tried.
constexpr uint64_t MaxTableEntries = uint64_t(1) << 20;

} // namespace

bool OpenCLProgramTy::loadOffloadTable(size_t NumEntries) {
  uint64_t TableSize = 0;
  if (readGlobalVariable("__omp_offloading_entries_table_size", sizeof(TableSize), &TableSize) !=
      0)
    return false;
  if (TableSize % TableRecordSize != 0) {
    DP("Warning: offload table size (%zu) is not a multiple of %zu.\n",
       static_cast<size_t>(TableSize), TableRecordSize);
    return false;
  }
  size_t Count = static_cast<size_t>(TableSize / TableRecordSize);
  if (Count != NumEntries)
    DP("Warning: number of entries in host and device offload tables mismatch (%zu != %zu).\n",
       NumEntries, Count);

  // The size comes from the device program; a nonsensical one must not end the process.
  if (Count > MaxTableEntries) {
    DP("Warning: offload table size (%zu) is too large.\n", static_cast<size_t>(TableSize));
    return false;
  }
  try {
    OffloadTable.resize(Count);
  } catch (const std::bad_alloc &) {
    DP("Warning: offload table size (%zu) is too large.\n", static_cast<size_t>(TableSize));
    OffloadTable.clear();
    return false;
  }
  if (Count > 0 && readGlobalVariable("__omp_offloading_entries_table",
                                      static_cast<size_t>(TableSize), OffloadTable.data()) != 0) {
    OffloadTable.clear();
    return false;
  }

  auto Memcpy = reinterpret_cast<clEnqueueMemcpyTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtEnqueueMemcpy));
  const char *Previous = "";
  bool PreviousHasSize = false;
  // On failure at record I the name copies of records 0 to I are freed and the table emptied:
  // a table that failed to load is never searched.
  auto Fail = [this](size_t I) {
    freeOffloadTableNames(I + 1);
    std::vector<OffloadTableEntry>().swap(OffloadTable);
    return false;
  };
  for (size_t I = 0; I < Count; ++I) {
    OffloadTableEntry &Entry = OffloadTable[I];
    void *NameTgtAddr = Entry.Base.name;
    Entry.Base.name = nullptr; // from here on it holds only a host copy
    size_t NameSize = static_cast<size_t>(Entry.NameSize);
    if (NameSize == 0) {
      DP("Warning: offload entry (%zu) with 0 name size.\n", I);
      return Fail(I);
    }
    if (!NameTgtAddr) {
      DP("Warning: offload entry (%zu) with invalid name.\n", I);
      return Fail(I);
    }
    if (NameSize > MaxNameSize) {
      DP("Warning: offload entry (%zu) with name size %zu above %zu.\n", I, NameSize,
         MaxNameSize);
      return Fail(I);
    }
    Entry.Base.name = static_cast<char *>(std::malloc(NameSize));
    if (!Entry.Base.name) {
      DP("Warning: cannot allocate %zu bytes for the name of offload entry (%zu).\n", NameSize, I);
      return Fail(I);
    }
    if (!Memcpy) {
      DP("Error: %s:%s is not available\n", "loadOffloadTable", "clEnqueueMemcpyTARNO");
      return Fail(I);
    }
    if (CL_CALL_PTR("loadOffloadTable", clEnqueueMemcpyTARNO, Memcpy,
                    DeviceInfo->Queues[DeviceId], 1, Entry.Base.name, NameTgtAddr, NameSize, 0,
                    nullptr, nullptr) != CL_SUCCESS)
      return Fail(I);
    // The name's first NUL must be its last byte.
    if (strnlen(Entry.Base.name, NameSize) != NameSize - 1) {
      DP("Warning: offload entry's name has wrong size.\n");
      return Fail(I);
    }
    // Lookups search by name, so the table must be sorted; only functions may share a name.
    int Order = std::strncmp(Previous, Entry.Base.name, NameSize);
    if (Order > 0) {
      DP("Warning: offload table is not sorted.\n"
         "Warning: previous name is '%s'.\n"
         "Warning:  current name is '%s'.\n",
         Previous, Entry.Base.name);
      return Fail(I);
    }
    if (Order == 0 && (Entry.Base.size != 0 || PreviousHasSize)) {
      DP("Warning: duplicate names (%s) in offload table.\n", Previous);
      return Fail(I);
    }
    PreviousHasSize = Entry.Base.size != 0;
    Previous = Entry.Base.name;
  }

  if (StartupDebugLevel >= 1) {
    DP("Device offload table loaded:\n");
    for (size_t I = 0; I < OffloadTable.size(); ++I)
      DP("\t%zu:\t%s\n", I, OffloadTable[I].Base.name);
  }
  return true;
}

void *OpenCLProgramTy::lookupOffloadTable(const char *Name, size_t Size) {
  DP("Looking up OpenMP global variable '%s' of size %zu bytes on device %d.\n", Name, Size,
     DeviceId);
  if (OffloadTable.empty()) {
    DP("Warning: offload table is not loaded for device %d.\n", DeviceId);
    return nullptr;
  }
  // Comparing over the name and its NUL makes a longer name sort after its prefix.
  size_t NameSize = std::strlen(Name) + 1;
  auto It = std::lower_bound(OffloadTable.begin(), OffloadTable.end(), Name,
                             [NameSize](const OffloadTableEntry &Entry, const char *Key) {
                               return std::strncmp(Entry.Base.name, Key, NameSize) < 0;
                             });
  if (It != OffloadTable.end() && std::strcmp(It->Base.name, Name) == 0) {
    DP("Global variable '%s' found in the offload table at position %zu.\n", Name,
       static_cast<size_t>(It - OffloadTable.begin()));
    return It->Base.address;
  }
  DP("Warning: global variable '%s' was not found in the offload table.\n", Name);
  return nullptr;
}
