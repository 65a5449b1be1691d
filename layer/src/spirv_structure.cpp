#include "spirv_structure.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t kMagic = 0x07230203;
constexpr size_t kHeaderWords = 5;

} // namespace

bool spirvStructureValid(const std::vector<char> &Spirv, std::string &Problem) {
  if (Spirv.size() % 4 != 0 || Spirv.size() < kHeaderWords * 4) {
    Problem = "the module is not a whole number of words or lacks a header";
    return false;
  }
  size_t Count = Spirv.size() / 4;
  std::vector<uint32_t> Words(Count);
  std::memcpy(Words.data(), Spirv.data(), Spirv.size());
  if (Words[0] != kMagic) {
    Problem = Words[0] == __builtin_bswap32(kMagic) ? "big-endian modules are not supported"
                                                    : "bad magic number";
    return false;
  }
  uint32_t Bound = Words[3];
  if (Bound == 0) {
    Problem = "the id bound is zero";
    return false;
  }
  for (size_t At = kHeaderWords; At < Count;) {
    uint32_t Length = Words[At] >> 16;
    if (Length == 0 || At + Length > Count) {
      Problem = "instruction at word " + std::to_string(At) + " runs past the end of the module";
      return false;
    }
    At += Length;
  }
  return true;
}
