// The translator writes some loops with a block ahead of the block that dominates it, which
// SPIR-V forbids and the validator refuses, although the module means what it should.
#pragma once

#include <cstdint>
#include <vector>

// Puts the blocks of every function in reverse post-order from its entry block, unreachable
// blocks last in their old order. A function whose layout is not plain blocks is left as it is.
// Words must be a module the binary parser accepted (host byte order).
std::vector<uint32_t> orderBlocksByDominance(const std::vector<uint32_t> &Words);
