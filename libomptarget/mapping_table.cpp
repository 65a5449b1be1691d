#include "mapping_table.h"

RangeLookup lookupRange(MappingTable &Table, uintptr_t Begin, uint64_t Size) {
  RangeLookup Result;
  uintptr_t End = Begin + Size;
  // The last entry starting at or before Begin may hold it; entries starting inside the range
  // overlap it.
  auto It = Table.Entries.upper_bound(Begin);
  if (It != Table.Entries.begin()) {
    MappingEntry &Before = std::prev(It)->second;
    if (Begin < Before.HostEnd) {
      Result.Entry = &Before;
      Result.State = End <= Before.HostEnd ? RangeState::Contained : RangeState::Extends;
      return Result;
    }
  }
  if (Size > 0 && It != Table.Entries.end() && It->first < End) {
    Result.Entry = &It->second;
    Result.State = RangeState::Extends;
  }
  return Result;
}

MappingEntry &insertEntry(MappingTable &Table, const MappingEntry &Entry) {
  return Table.Entries[Entry.HostBegin] = Entry;
}

void eraseEntry(MappingTable &Table, uintptr_t HostBegin) { Table.Entries.erase(HostBegin); }
