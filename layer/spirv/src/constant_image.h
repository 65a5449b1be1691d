// Host-side evaluation of global initialisers into the bytes of their memory.
#pragma once

#include <llvm/IR/Constants.h>
#include <llvm/IR/DataLayout.h>
#include <llvm/IR/GlobalVariable.h>

#include <string>
#include <vector>

// A part of an initialiser the host cannot evaluate (a function address).
struct DeviceStore {
  size_t Offset;
  llvm::Constant *Value;
};

// The variable that stands for the start of the globals block, and the block's address.
struct BlockAnchor {
  const llvm::GlobalVariable *Variable;
  uint64_t Address;
};

// Writes the bytes of Value at Image[Offset...]; the image starts zeroed. Pointers to variables
// must be plain addresses (integer-to-pointer constants) or offsets from the anchor.
bool writeConstant(const llvm::DataLayout &Layout, llvm::Constant *Value,
                   std::vector<unsigned char> &Image, size_t Offset, const BlockAnchor &Anchor,
                   std::vector<DeviceStore> &DeviceStores, std::string &Error);
