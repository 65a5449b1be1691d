#include "spirv_words.h"

#include <cstring>

bool looksLikeSpirv(const void *Bytes, size_t Length) {
  if (!Bytes || Length < kSpirvHeaderWords * 4 || Length % 4 != 0)
    return false;
  uint32_t Magic;
  std::memcpy(&Magic, Bytes, sizeof(Magic));
  return Magic == kSpirvMagic || Magic == __builtin_bswap32(kSpirvMagic);
}

std::vector<uint32_t> spirvWords(const void *Bytes, size_t Length) {
  std::vector<uint32_t> Words(Length / 4);
  std::memcpy(Words.data(), Bytes, Words.size() * 4);
  if (!Words.empty() && Words[0] == __builtin_bswap32(kSpirvMagic))
    for (uint32_t &Word : Words)
      Word = __builtin_bswap32(Word);
  return Words;
}
