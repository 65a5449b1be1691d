// Results of the layer's compiler steps, kept for the life of the process and found by a digest
// of everything that went into them, so that loading the same image again costs no translation.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct CachedModule {
  std::string Bitcode;
  std::string Log;
};

using ModuleKey = std::string; // a SHA-256 digest

ModuleKey moduleKey(const std::vector<std::string_view> &Inputs);
std::shared_ptr<const CachedModule> findCachedModule(const ModuleKey &Key);
void storeCachedModule(const ModuleKey &Key, CachedModule Module);
