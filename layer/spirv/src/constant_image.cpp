#include "constant_image.h"

#include <llvm/IR/Function.h>
#include <llvm/IR/GlobalAlias.h>
#include <llvm/IR/Operator.h>


using namespace llvm;

namespace {

// Every device the layer serves stores integers in the host's byte order.
void writeInteger(const APInt &Value, size_t Bytes, std::vector<unsigned char> &Image,
                  size_t Offset) {
  StoreIntToMemory(Value, &Image[Offset], static_cast<unsigned>(Bytes));
}

// The address a pointer-valued constant stands for, when the host can know it.
bool constantAddress(const DataLayout &Layout, const Constant *Value, const BlockAnchor &Anchor,
                     uint64_t &Address) {
  if (Value == Anchor.Variable) {
    Address = Anchor.Address;
    return true;
  }
  if (isa<ConstantPointerNull>(Value) || isa<UndefValue>(Value) ||
      isa<ConstantAggregateZero>(Value)) {
    Address = 0;
    return true;
  }
  if (auto *Int = dyn_cast<ConstantInt>(Value)) {
    Address = Int->getZExtValue();
    return true;
  }
  auto *Expr = dyn_cast<ConstantExpr>(Value);
  if (!Expr)
    return false;
  switch (Expr->getOpcode()) {
  case Instruction::IntToPtr:
  case Instruction::PtrToInt:
  case Instruction::BitCast:
  case Instruction::AddrSpaceCast:
    return constantAddress(Layout, Expr->getOperand(0), Anchor, Address);
  case Instruction::GetElementPtr: {
    uint64_t Base = 0;
    if (!constantAddress(Layout, Expr->getOperand(0), Anchor, Base))
      return false;
    APInt Offset(64, 0);
    if (!cast<GEPOperator>(Expr)->accumulateConstantOffset(Layout, Offset))
      return false;
    Address = Base + Offset.getZExtValue();
    return true;
  }
  default:
    return false;
  }
}

bool refersToFunction(const Constant *Value) {
  if (isa<Function>(Value) || isa<GlobalAlias>(Value))
    return true;
  for (const Use &Operand : Value->operands())
    if (auto *C = dyn_cast<Constant>(Operand.get()); C && refersToFunction(C))
      return true;
  return false;
}

} // namespace

bool writeConstant(const DataLayout &Layout, Constant *Value, std::vector<unsigned char> &Image,
                   size_t Offset, const BlockAnchor &Anchor,
                   std::vector<DeviceStore> &DeviceStores, std::string &Error) {
  Type *Ty = Value->getType();
  if (isa<UndefValue>(Value) || isa<ConstantAggregateZero>(Value) ||
      isa<ConstantPointerNull>(Value))
    return true;
  size_t Bytes = Layout.getTypeStoreSize(Ty);
  if (Bytes > Image.size() || Offset > Image.size() - Bytes) { // no sum that could wrap
    Error = "initialiser larger than its variable";
    return false;
  }
  if (auto *Int = dyn_cast<ConstantInt>(Value)) {
    writeInteger(Int->getValue(), Bytes, Image, Offset);
    return true;
  }
  if (auto *FP = dyn_cast<ConstantFP>(Value)) {
    writeInteger(FP->getValueAPF().bitcastToAPInt(), Bytes, Image, Offset);
    return true;
  }
  if (auto *Data = dyn_cast<ConstantDataSequential>(Value)) {
    Type *Element = Data->getElementType();
    size_t Stride = Ty->isVectorTy() ? Layout.getTypeStoreSize(Element)
                                     : Layout.getTypeAllocSize(Element);
    for (unsigned I = 0; I < Data->getNumElements(); ++I)
      if (!writeConstant(Layout, Data->getElementAsConstant(I), Image, Offset + I * Stride,
                         Anchor, DeviceStores, Error))
        return false;
    return true;
  }
  if (auto *Struct = dyn_cast<ConstantStruct>(Value)) {
    const StructLayout *Fields = Layout.getStructLayout(Struct->getType());
    for (unsigned I = 0; I < Struct->getNumOperands(); ++I)
      if (!writeConstant(Layout, Struct->getOperand(I), Image, Offset + Fields->getElementOffset(I),
                         Anchor, DeviceStores, Error))
        return false;
    return true;
  }
  if (isa<ConstantArray>(Value) || isa<ConstantVector>(Value)) {
    Type *Element = Ty->isVectorTy() ? cast<VectorType>(Ty)->getElementType()
                                     : cast<ArrayType>(Ty)->getElementType();
    size_t Stride = Ty->isVectorTy() ? Layout.getTypeStoreSize(Element)
                                     : Layout.getTypeAllocSize(Element);
    for (unsigned I = 0; I < Value->getNumOperands(); ++I)
      if (!writeConstant(Layout, cast<Constant>(Value->getOperand(I)), Image,
                         Offset + I * Stride, Anchor, DeviceStores, Error))
        return false;
    return true;
  }
  uint64_t Address = 0;
  if (constantAddress(Layout, Value, Anchor, Address)) {
    writeInteger(APInt(64, Address), Bytes, Image, Offset);
    return true;
  }
  if (refersToFunction(Value)) {
    DeviceStores.push_back({Offset, Value});
    return true;
  }
  Error = "initialiser the layer cannot evaluate";
  return false;
}
