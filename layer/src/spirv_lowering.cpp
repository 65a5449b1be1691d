#include "spirv_lowering.h"

#include <cstddef>
#include <unordered_map>

namespace {

constexpr uint32_t kOpTypeBool = 20, kOpTypeInt = 21, kOpTypeFloat = 22, kOpConstantFalse = 41,
                   kOpConstant = 43, kOpConstantNull = 46;
constexpr size_t kHeaderWords = 5;

uint32_t instruction(uint32_t Op, uint32_t Count) { return (Count << 16) | Op; }

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
  return Out;
}
