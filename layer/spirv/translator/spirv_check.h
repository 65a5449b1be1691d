// The gate in front of the SPIR-V translator: its reader is built with assertions and ends or
// hangs the process on streams it cannot decode, so only modules that pass this check reach it.
#pragma once

#include "spirv_words.h"

#include <cstdint>
#include <string>
#include <vector>

// Whether the translator may read Words (host byte order): they must pass SPIRV-Tools' validator
// and what the reader needs beyond it. Words may be rewritten into an equivalent module first
// (blocks put in dominance order). A refusal is appended to Log as an "error: ..." line.
bool prepareSpirv(std::vector<uint32_t> &Words, std::string &Log);
