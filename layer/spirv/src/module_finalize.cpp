// Turns a linked module into what the driver builds: program-scope variables moved into one
// shared block, initial contents computed, kernel descriptions read.
#include "constant_image.h"
#include "generic_builtins.h"
#include "globals_parameter.h"
#include "llvm_support.h"
#include "program_compiler.h"

#include <llvm/IR/Metadata.h>

using namespace llvm;

namespace {

cl_kernel_arg_address_qualifier addressQualifier(unsigned AddressSpace) {
  switch (AddressSpace) {
  case 1:
    return CL_KERNEL_ARG_ADDRESS_GLOBAL;
  case 2:
    return CL_KERNEL_ARG_ADDRESS_CONSTANT;
  case 3:
    return CL_KERNEL_ARG_ADDRESS_LOCAL;
  default:
    return CL_KERNEL_ARG_ADDRESS_PRIVATE;
  }
}

cl_kernel_arg_access_qualifier accessQualifier(StringRef Text) {
  if (Text == "read_only")
    return CL_KERNEL_ARG_ACCESS_READ_ONLY;
  if (Text == "write_only")
    return CL_KERNEL_ARG_ACCESS_WRITE_ONLY;
  if (Text == "read_write")
    return CL_KERNEL_ARG_ACCESS_READ_WRITE;
  return CL_KERNEL_ARG_ACCESS_NONE;
}

cl_kernel_arg_type_qualifier typeQualifier(StringRef Text) {
  cl_kernel_arg_type_qualifier Bits = CL_KERNEL_ARG_TYPE_NONE;
  if (Text.contains("const"))
    Bits |= CL_KERNEL_ARG_TYPE_CONST;
  if (Text.contains("restrict"))
    Bits |= CL_KERNEL_ARG_TYPE_RESTRICT;
  if (Text.contains("volatile"))
    Bits |= CL_KERNEL_ARG_TYPE_VOLATILE;
  if (Text.contains("pipe"))
    Bits |= CL_KERNEL_ARG_TYPE_PIPE;
  return Bits;
}

StringRef metadataText(const Function &F, const char *Kind, unsigned Index) {
  const MDNode *Node = F.getMetadata(Kind);
  if (!Node || Index >= Node->getNumOperands())
    return StringRef();
  if (auto *Text = dyn_cast<MDString>(Node->getOperand(Index)))
    return Text->getString();
  return StringRef();
}

unsigned metadataNumber(const Function &F, const char *Kind, unsigned Index, unsigned Default) {
  const MDNode *Node = F.getMetadata(Kind);
  if (!Node || Index >= Node->getNumOperands())
    return Default;
  if (auto *Value = mdconst::dyn_extract<ConstantInt>(Node->getOperand(Index)))
    return static_cast<unsigned>(Value->getZExtValue());
  return Default;
}

std::vector<KernelDesc> describeKernels(const Module &M) {
  std::vector<KernelDesc> Kernels;
  for (const Function &F : M) {
    if (F.isDeclaration() || F.getCallingConv() != CallingConv::SPIR_KERNEL)
      continue;
    KernelDesc Kernel;
    Kernel.Name = F.getName().str();
    for (const Argument &Arg : F.args()) {
      unsigned I = Arg.getArgNo();
      KernelArgDesc Desc;
      StringRef Name = metadataText(F, "kernel_arg_name", I);
      Desc.Name = (Name.empty() ? Arg.getName() : Name).str();
      Desc.TypeName = metadataText(F, "kernel_arg_type", I).str();
      unsigned PointerSpace = 0;
      if (auto *Pointer = dyn_cast<PointerType>(Arg.getType()))
        PointerSpace = Pointer->getAddressSpace();
      Desc.Address = addressQualifier(metadataNumber(F, "kernel_arg_addr_space", I, PointerSpace));
      Desc.Access = accessQualifier(metadataText(F, "kernel_arg_access_qual", I));
      Desc.TypeQualifier = typeQualifier(metadataText(F, "kernel_arg_type_qual", I));
      Kernel.Args.push_back(std::move(Desc));
    }
    Kernels.push_back(std::move(Kernel));
  }
  return Kernels;
}

bool placedInBlock(const GlobalVariable &G) {
  unsigned Space = G.getAddressSpace();
  return !G.isDeclaration() && !G.getName().startswith("llvm.") && !G.isThreadLocal() &&
         (Space == 1 || Space == 2);
}

struct Placement {
  GlobalVariable *Variable;
  size_t Offset;
  size_t Size;
};

// An upper bound of the bytes a value of Ty takes that saturates instead of wrapping: LLVM's own
// sizes are 64-bit sums and products that wrap silently for types near 2^64 bytes (or bits).
uint64_t sizeBound(Type *Ty, const DataLayout &Layout) {
  auto Add = [](uint64_t A, uint64_t B) {
    uint64_t Sum;
    return __builtin_add_overflow(A, B, &Sum) ? UINT64_MAX : Sum;
  };
  auto Multiply = [](uint64_t A, uint64_t B) {
    uint64_t Product;
    return __builtin_mul_overflow(A, B, &Product) ? UINT64_MAX : Product;
  };
  // Each element may be followed by padding up to its alignment.
  auto Element = [&](Type *E) {
    return Add(sizeBound(E, Layout), Layout.getABITypeAlign(E).value());
  };
  if (auto *Array = dyn_cast<ArrayType>(Ty))
    return Multiply(Element(Array->getElementType()), Array->getNumElements());
  if (auto *Vector = dyn_cast<FixedVectorType>(Ty))
    return Multiply(Element(Vector->getElementType()), Vector->getNumElements());
  if (auto *Struct = dyn_cast<StructType>(Ty)) {
    uint64_t Sum = 0;
    for (Type *E : Struct->elements())
      Sum = Add(Sum, Element(E));
    return Sum;
  }
  if (!Ty->isSized() || isa<ScalableVectorType>(Ty))
    return UINT64_MAX;
  return Layout.getTypeAllocSize(Ty).getFixedValue();
}

// The bytes a variable takes in the block, exactly; UINT64_MAX when LLVM cannot say without
// wrapping (every size below a quarter of the address space is computed exactly).
uint64_t variableSize(const GlobalVariable &G, const DataLayout &Layout) {
  if (sizeBound(G.getValueType(), Layout) >= (uint64_t(1) << 61))
    return UINT64_MAX;
  return Layout.getTypeAllocSize(G.getValueType()).getFixedValue();
}

std::string tooLarge(const GlobalVariable &G, uint64_t Size) {
  std::string Needs = Size == UINT64_MAX ? "needs more than the "
                                         : "needs " + std::to_string(Size) + " bytes, more than the ";
  return "error: global '" + G.getName().str() + "' " + Needs +
         std::to_string(kMaxProgramVariableSize) + " a program variable may have\n";
}

void dropUsedLists(Module &M) {
  for (const char *Name : {"llvm.used", "llvm.compiler.used"})
    if (GlobalVariable *List = M.getGlobalVariable(Name))
      List->eraseFromParent();
}

} // namespace

ExecutableModule finalizeModule(const std::string &Bitcode, bool RedirectGenericBuiltins,
                                const std::function<void *(size_t, size_t)> &Allocate) {
  ExecutableModule Result;
  LoggingContext Context(Result.Log);
  std::unique_ptr<Module> M = parseBitcode(Bitcode, Context.Context, Result.Log);
  if (!M)
    return Result;
  const DataLayout &Layout = M->getDataLayout();
  Result.Kernels = describeKernels(*M);
  if (RedirectGenericBuiltins)
    redirectGenericBuiltins(*M, Result.Log);
  dropUsedLists(*M);

  std::vector<Placement> Placements;
  size_t BlockAlign = 1;
  for (GlobalVariable &G : M->globals()) {
    if (!placedInBlock(G))
      continue;
    uint64_t Size = variableSize(G, Layout);
    if (Size > kMaxProgramVariableSize) {
      Result.Log += tooLarge(G, Size);
      return Result;
    }
    size_t Align = std::max<size_t>(G.getAlign().valueOrOne().value(),
                                    Layout.getPrefTypeAlign(G.getValueType()).value());
    // Every variable is below the limit, alignments below 2^33: only many of them can overflow.
    size_t Start = 0, End = 0;
    if (__builtin_add_overflow(Result.BlockSize, Align - 1, &Start) ||
        __builtin_add_overflow(Start / Align * Align, std::max<size_t>(Size, 1), &End)) {
      Result.Log += "error: the program's global variables do not fit in memory\n";
      return Result;
    }
    Placements.push_back({&G, Start / Align * Align, Size});
    Result.BlockSize = End;
    BlockAlign = std::max(BlockAlign, Align);
  }
  if (!Placements.empty()) {
    Result.Block = Allocate(Result.BlockSize, BlockAlign);
    if (!Result.Block) {
      Result.Log += "error: no memory for the program's global variables\n";
      return Result;
    }
  }
  // Every use of a variable, in code and in other initialisers, becomes an offset from one
  // anchor that stands for the block.
  Type *Int8 = Type::getInt8Ty(Context.Context);
  Type *Int64 = Type::getInt64Ty(Context.Context);
  GlobalVariable *Anchor = nullptr;
  if (!Placements.empty())
    Anchor = new GlobalVariable(*M, Int8, false, GlobalValue::ExternalLinkage, nullptr,
                                kGlobalsParameterName, nullptr, GlobalValue::NotThreadLocal, 1);
  for (const Placement &P : Placements) {
    Constant *Address = ConstantExpr::getPointerBitCastOrAddrSpaceCast(
        ConstantExpr::getGetElementPtr(Int8, Anchor, ConstantInt::get(Int64, P.Offset)),
        P.Variable->getType());
    P.Variable->replaceAllUsesWith(Address);
    if (P.Variable->hasName() && !P.Variable->hasPrivateLinkage())
      Result.Globals.push_back({P.Variable->getName().str(), P.Offset, P.Size});
  }
  Result.BlockImage.assign(Result.BlockSize, 0);
  std::vector<DeviceStore> DeviceStores;
  for (const Placement &P : Placements) {
    std::string Error;
    if (P.Variable->hasInitializer() &&
        !writeConstant(Layout, P.Variable->getInitializer(), Result.BlockImage, P.Offset,
                       {Anchor, reinterpret_cast<uint64_t>(Result.Block)}, DeviceStores,
                       Error)) {
      Result.Log += "error: global '" + P.Variable->getName().str() + "': " + Error + "\n";
      return Result;
    }
  }
  // Function addresses exist only inside the driver's compiled kernels; a CPU driver that
  // compiles each kernel separately cannot give them at all, so they stay null.
  for (const DeviceStore &Store : DeviceStores)
    Result.Log += "warning: a function address in a global initialiser at offset " +
                  std::to_string(Store.Offset) + " of the globals block is left null\n";
  for (const Placement &P : Placements)
    P.Variable->eraseFromParent();
  // Code reaches the block through a parameter, so that it does not change with the block's
  // address; where that cannot be done, through the address itself.
  if (Anchor && !(Result.GlobalsByParameter = passGlobalsByParameter(*M, *Anchor, Result.Log))) {
    Anchor->replaceAllUsesWith(ConstantExpr::getIntToPtr(
        ConstantInt::get(Int64, reinterpret_cast<uint64_t>(Result.Block)), Anchor->getType()));
    Anchor->eraseFromParent();
  }
  if (!moduleIsValid(*M, Result.Log))
    return Result;
  Result.Bitcode = writeBitcode(*M);
  Result.Ok = true;
  return Result;
}
