// SPIR-V recognised by its header and read as words, without looking further: all the layer's
// own process does with a module (the checks and the translator run in its helper).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kSpirvMagic = 0x07230203;
constexpr size_t kSpirvHeaderWords = 5;

// Whether Bytes begin like a SPIR-V module (either byte order) and are whole words.
bool looksLikeSpirv(const void *Bytes, size_t Length);

// The module as words in host byte order; a byte-swapped module is swapped here, once.
std::vector<uint32_t> spirvWords(const void *Bytes, size_t Length);
