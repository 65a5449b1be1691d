#include "module_cache.h"

#include <llvm/ADT/ArrayRef.h>
#include <llvm/ADT/StringRef.h>
#include <llvm/Support/SHA256.h>

#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>

namespace {

// Enough for the images and device libraries of a process, and never a large share of the
// machine's memory; the oldest entries go first.
constexpr size_t kCacheCeiling = size_t(256) << 20;

size_t cacheBudget() {
  static const size_t Budget = [] {
    long Pages = sysconf(_SC_PHYS_PAGES), PageSize = sysconf(_SC_PAGESIZE);
    if (Pages <= 0 || PageSize <= 0)
      return kCacheCeiling / 4;
    return std::min(kCacheCeiling, size_t(Pages) / 16 * size_t(PageSize));
  }();
  return Budget;
}

struct ModuleCache {
  std::mutex Lock;
  std::map<ModuleKey, std::shared_ptr<const CachedModule>> Entries;
  std::deque<ModuleKey> Order;
  size_t Bytes = 0;
};

ModuleCache &moduleCache() {
  static auto *Cache = new ModuleCache(); // never destroyed: builds may run during exit
  return *Cache;
}

// What an entry costs, its key and bookkeeping included, so that empty entries count too.
size_t footprint(const CachedModule &Module) {
  return Module.Bitcode.size() + Module.Log.size() + 128;
}

} // namespace

ModuleKey moduleKey(const std::vector<std::string_view> &Inputs) {
  llvm::SHA256 Hash; // collision resistant: a different module never finds another's result
  for (std::string_view Input : Inputs) {
    uint64_t Length = Input.size(); // keeps ("ab", "c") apart from ("a", "bc")
    Hash.update(llvm::ArrayRef<uint8_t>(reinterpret_cast<const uint8_t *>(&Length),
                                        sizeof(Length)));
    Hash.update(llvm::StringRef(Input.data(), Input.size()));
  }
  auto Digest = Hash.final();
  return ModuleKey(Digest.begin(), Digest.end());
}

std::shared_ptr<const CachedModule> findCachedModule(const ModuleKey &Key) {
  ModuleCache &Cache = moduleCache();
  std::lock_guard<std::mutex> Guard(Cache.Lock);
  auto It = Cache.Entries.find(Key);
  return It == Cache.Entries.end() ? nullptr : It->second;
}

void storeCachedModule(const ModuleKey &Key, CachedModule Module) {
  size_t Size = footprint(Module);
  if (Size > cacheBudget() / 4) // one large module must not push out everything else
    return;
  auto Entry = std::make_shared<const CachedModule>(std::move(Module));
  ModuleCache &Cache = moduleCache();
  std::lock_guard<std::mutex> Guard(Cache.Lock);
  if (!Cache.Entries.emplace(Key, Entry).second)
    return;
  Cache.Order.push_back(Key);
  Cache.Bytes += Size;
  while (Cache.Bytes > cacheBudget()) {
    auto Oldest = Cache.Entries.find(Cache.Order.front());
    Cache.Bytes -= footprint(*Oldest->second);
    Cache.Entries.erase(Oldest);
    Cache.Order.pop_front();
  }
}
