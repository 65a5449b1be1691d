#include "memory/allocation_table.h"


namespace {

uintptr_t address(const void *Ptr) { return reinterpret_cast<uintptr_t>(Ptr); }

bool holds(const AddressIndex<AllocationInfo>::Entry &Record, uintptr_t Ptr) {
  return Record && address(Record.Val->Base) <= Ptr && Ptr < Record.Key + Record.Val->Size;
}

} // namespace

void AllocationTable::add(void *Key, void *Base, uint64_t Size, int32_t Kind, bool ImplicitArg) {
  std::lock_guard<std::mutex> Guard(Lock);
  bool Inserted = Allocations.insert(address(Key), AllocationInfo{Base, Size, Kind, ImplicitArg});
  Generation.fetch_add(1, std::memory_order_release); // the implicit counts change either way
  if (!ImplicitArg)
    return;
  ++ImplicitCounts[Kind];
  if (Inserted && ImplicitKeys.insert(address(Key)).second)
    ImplicitListStale = true;
}

bool AllocationTable::remove(void *Key, AllocationInfo &Info) {
  std::lock_guard<std::mutex> Guard(Lock);
  if (!Allocations.erase(address(Key), Info))
    return false;
  if (Info.ImplicitArg) {
    --ImplicitCounts[Info.Kind];
    ImplicitKeys.erase(address(Key));
    ImplicitListStale = true;
  }
  Generation.fetch_add(1, std::memory_order_release);
  return true;
}

std::optional<AllocationInfo> AllocationTable::find(void *Key) {
  std::lock_guard<std::mutex> Guard(Lock);
  auto Record = Allocations.find(address(Key));
  if (!Record)
    return std::nullopt;
  return *Record.Val;
}

std::optional<AllocationInfo> AllocationTable::findContaining(void *Ptr) {
  std::lock_guard<std::mutex> Guard(Lock);
  uintptr_t P = address(Ptr);
  // A record's range may start below its key (the base of an offset allocation), so the first
  // key above Ptr can hold it as well as the last key at or below it.
  auto Above = Allocations.above(P);
  if (holds(Above, P))
    return *Above.Val;
  auto AtOrBelow = Allocations.atOrBelow(P);
  if (holds(AtOrBelow, P))
    return *AtOrBelow.Val;
  return std::nullopt;
}

bool AllocationTable::reaches(void *Ptr, uint64_t Size) {
  std::lock_guard<std::mutex> Guard(Lock);
  uintptr_t P = address(Ptr);
  auto AtOrBelow = Allocations.atOrBelow(P);
  if (!AtOrBelow)
    return false;
  // Measured from Ptr, so that a huge Size cannot wrap the end of the range around.
  uintptr_t End = AtOrBelow.Key + AtOrBelow.Val->Size;
  return End >= P && Size <= End - P;
}

bool AllocationTable::hasImplicit(int32_t Kind) {
  std::lock_guard<std::mutex> Guard(Lock);
  auto Count = [this](int32_t K) {
    auto It = ImplicitCounts.find(K);
    return It == ImplicitCounts.end() ? 0 : It->second;
  };
  if (Kind == 3)
    return Count(1) + Count(0) + Count(2) != 0;
  return Count(Kind) != 0;
}

void AllocationTable::collectImplicit(std::vector<void *> &Keys) {
  std::lock_guard<std::mutex> Guard(Lock);
  if (ImplicitListStale) {
    ImplicitList.clear();
    for (uintptr_t Key : ImplicitKeys)
      ImplicitList.push_back(reinterpret_cast<void *>(Key));
    ImplicitListStale = false;
  }
  Keys.insert(Keys.end(), ImplicitList.begin(), ImplicitList.end());
}
