// Host-side evaluation of global initialisers into the bytes of their memory.
#pragma once

#include <llvm/IR/Constants.h>
#include <llvm/IR/DataLayout.h>

#include <string>
#include <vector>

// A part of an initialiser the host cannot evaluate (a function address).
struct DeviceStore {
  size_t Offset;
  llvm::Constant *Value;
};

// Writes the bytes of Value at Image[Offset...]; the image starts zeroed. Pointers to variables
// must already be plain addresses (integer-to-pointer constants).
bool writeConstant(const llvm::DataLayout &Layout, llvm::Constant *Value,
                   std::vector<unsigned char> &Image, size_t Offset,
                   std::vector<DeviceStore> &DeviceStores, std::string &Error);
