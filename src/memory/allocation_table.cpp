#include "memory/allocation_table.h"

#include <iterator>

namespace {

uintptr_t address(const void *Ptr) { return reinterpret_cast<uintptr_t>(Ptr); }

bool holds(const std::pair<const uintptr_t, AllocationInfo> &Record, uintptr_t Ptr) {
  return address(Record.second.Base) <= Ptr && Ptr < Record.first + Record.second.Size;
}

} // namespace

void AllocationTable::add(void *Key, void *Base, uint64_t Size, int32_t Kind, bool ImplicitArg) {
  std::lock_guard<std::mutex> Guard(Lock);
  bool Inserted =
      Allocations.emplace(address(Key), AllocationInfo{Base, Size, Kind, ImplicitArg}).second;
  Generation.fetch_add(1, std::memory_order_release); // the implicit counts change either way
  if (!ImplicitArg)
    return;
  ++ImplicitCounts[Kind];
  if (Inserted && ImplicitKeys.insert(address(Key)).second)
    ImplicitListStale = true;
}

bool AllocationTable::remove(void *Key, AllocationInfo &Info) {
  std::lock_guard<std::mutex> Guard(Lock);
  auto It = Allocations.find(address(Key));
  if (It == Allocations.end())
    return false;
  if (It->second.ImplicitArg) {
    --ImplicitCounts[It->second.Kind];
    ImplicitKeys.erase(It->first);
    ImplicitListStale = true;
  }
  Info = It->second;
  Allocations.erase(It);
  Generation.fetch_add(1, std::memory_order_release);
  return true;
}

std::optional<AllocationInfo> AllocationTable::find(void *Key) {
  std::lock_guard<std::mutex> Guard(Lock);
  auto It = Allocations.find(address(Key));
  if (It == Allocations.end())
    return std::nullopt;
  return It->second;
}

std::optional<AllocationInfo> AllocationTable::findContaining(void *Ptr) {
  std::lock_guard<std::mutex> Guard(Lock);
  uintptr_t P = address(Ptr);
  // A record's range may start below its key (the base of an offset allocation), so the first
  // key above Ptr can hold it as well as the last key at or below it.
  auto Above = Allocations.upper_bound(P);
  if (Above != Allocations.end() && holds(*Above, P))
    return Above->second;
  if (Above == Allocations.begin())
    return std::nullopt;
  auto AtOrBelow = std::prev(Above);
  if (holds(*AtOrBelow, P))
    return AtOrBelow->second;
  return std::nullopt;
}

bool AllocationTable::reaches(void *Ptr, uint64_t Size) {
  std::lock_guard<std::mutex> Guard(Lock);
  uintptr_t P = address(Ptr);
  auto Above = Allocations.upper_bound(P);
  if (Above == Allocations.begin())
    return false;
  auto AtOrBelow = std::prev(Above);
  // Measured from Ptr, so that a huge Size cannot wrap the end of the range around.
  uintptr_t End = AtOrBelow->first + AtOrBelow->second.Size;
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
