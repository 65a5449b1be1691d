#include "spirv_lowering.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>

namespace {

constexpr uint32_t kOpEntryPoint = 15, kOpVariable = 59, kOpFunction = 54, kOpTypeBool = 20, kOpTypeInt = 21, kOpTypeFloat = 22, kOpConstantFalse = 41,
                   kOpConstant = 43, kOpConstantNull = 46;
constexpr uint32_t kStorageFunction = 7, kVersion14 = 0x00010400;
constexpr size_t kHeaderWords = 5;

uint32_t instruction(uint32_t Op, uint32_t Count) { return (Count << 16) | Op; }

// Words of an OpEntryPoint's name (a zero-terminated string) starting at Begin, within End.
size_t stringWords(const std::vector<uint32_t> &Words, size_t Begin, size_t End) {
  for (size_t At = Begin; At < End; ++At)
    if ((Words[At] & 0xFF000000u) == 0)
      return At + 1 - Begin;
  return End - Begin;
}

// Adds to every entry point's interface the module-scope variables it does not list.
std::vector<uint32_t> completeInterfaces(const std::vector<uint32_t> &Words) {
  std::vector<uint32_t> Globals;
  for (size_t At = kHeaderWords; At < Words.size(); At += Words[At] >> 16) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Op == kOpFunction)
      break;
    if (Op == kOpVariable && Count >= 4 && Words[At + 3] != kStorageFunction)
      Globals.push_back(Words[At + 2]);
  }
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + kHeaderWords);
  for (size_t At = kHeaderWords; At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Op != kOpEntryPoint || Count < 4) {
      Out.insert(Out.end(), Words.begin() + At, Words.begin() + At + Count);
      At += Count;
      continue;
    }
    size_t Interface = At + 3 + stringWords(Words, At + 3, At + Count);
    std::vector<uint32_t> Listed(Words.begin() + Interface, Words.begin() + At + Count);
    std::vector<uint32_t> Entry(Words.begin() + At, Words.begin() + At + Count);
    for (uint32_t Id : Globals)
      if (std::find(Listed.begin(), Listed.end(), Id) == Listed.end())
        Entry.push_back(Id);
    Entry[0] = instruction(kOpEntryPoint, static_cast<uint32_t>(Entry.size()));
    Out.insert(Out.end(), Entry.begin(), Entry.end());
    At += Count;
  }
  return Out;
}

} // namespace

std::vector<uint32_t> lowerSpirv(const std::vector<uint32_t> &Words) {
  if (Words.size() < kHeaderWords)
    return Words;
  // Scalar types by id: their width in bits, 1 for bool.
  std::unordered_map<uint32_t, uint32_t> ScalarWidth;
  std::vector<uint32_t> Out(Words.begin(), Words.begin() + kHeaderWords);
  Out.reserve(Words.size());
  for (size_t At = kHeaderWords; At < Words.size();) {
    uint32_t Op = Words[At] & 0xFFFF, Count = Words[At] >> 16;
    if (Count == 0 || At + Count > Words.size())
      return Words;
    const uint32_t *I = &Words[At];
    if ((Op == kOpTypeInt || Op == kOpTypeFloat) && Count >= 3)
      ScalarWidth[I[1]] = I[2];
    else if (Op == kOpTypeBool && Count == 2)
      ScalarWidth[I[1]] = 1;
    auto Scalar = Op == kOpConstantNull && Count == 3 ? ScalarWidth.find(I[1]) : ScalarWidth.end();
    if (Scalar == ScalarWidth.end()) {
      Out.insert(Out.end(), I, I + Count);
    } else if (Scalar->second == 1) {
      Out.insert(Out.end(), {instruction(kOpConstantFalse, 3), I[1], I[2]});
    } else {
      uint32_t ValueWords = Scalar->second > 32 ? 2 : 1;
      Out.insert(Out.end(), {instruction(kOpConstant, 3 + ValueWords), I[1], I[2]});
      Out.insert(Out.end(), ValueWords, 0u);
    }
    At += Count;
  }
  return Words[1] >= kVersion14 ? completeInterfaces(Out) : Out;
}
