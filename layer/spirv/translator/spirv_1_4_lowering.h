// Rewrites SPIR-V 1.4 constructs that the SPIR-V translator of LLVM 15 cannot read (it stops on
// an assertion) into plain instructions with the same meaning, and promotes float printf
// arguments, which the translator passes as they are and the driver then prints as zeros.
#pragma once

#include <cstdint>
#include <vector>

// Words (host byte order, sound instruction framing) with:
//   - OpCopyLogical made member-wise OpCompositeExtract + OpCompositeInsert, recursively, or
//     OpCopyObject where the two types are the same;
//   - OpPtrEqual / OpPtrNotEqual made integer comparisons of the pointers' addresses, and
//     OpPtrDiff the difference of the addresses divided by the size of the pointee (left as it
//     is where that size cannot be known: the translator then refuses the module);
//   - no UserSemantic string decorations (on types, members, values alike);
//   - OpCopyMemory made a load and a store, and no memory operands on OpCopyMemorySized;
//   - 32-bit float arguments of OpenCL.std printf converted to double (adding the type and the
//     Float64 capability where missing).
// A module the SPIR-V parser cannot read is returned as it is, for the checks that follow.
std::vector<uint32_t> lowerSpirv14Constructs(const std::vector<uint32_t> &Words);
