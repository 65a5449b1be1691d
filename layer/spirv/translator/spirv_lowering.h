// Rewrites SPIR-V that clang-22's backend writes (version 1.4) into forms the SPIR-V translator
// of LLVM 15 reads: it crashes or refuses some instructions that mean something simple.
#pragma once

#include <cstdint>
#include <vector>

// Words (host byte order, the header checked by the caller) with:
//   - OpConstantNull of an integer, float or bool type made OpConstant 0 / OpConstantFalse;
//   - no linkage attributes on built-in variables: modules linked together each import them,
//     and the translator makes the copies external globals nobody defines;
//   - the format of OpenCL printf passed as a pointer to a char array made a pointer to char
//     (OpBitcast), the type the instruction requires;
//   - scalar OpIAddCarry and OpISubBorrow (the backend forms them from overflow checks in loops)
//     made an add or subtract, an unsigned comparison, a select and the struct of the two;
//   - from version 1.4 on, every module-scope variable listed in the interface of every entry
//     point (the backend leaves out some it uses, which the validator refuses; listing one that
//     an entry point does not use is allowed);
// A module whose instruction framing is broken is returned as it is, for the checks that follow
// to refuse.
std::vector<uint32_t> lowerSpirv(const std::vector<uint32_t> &Words);
