#include "globals_parameter.h"

#include <llvm/ADT/SmallPtrSet.h>
#include <llvm/IR/Constants.h>
#include <llvm/IR/Instructions.h>
#include <llvm/IR/Metadata.h>
#include <llvm/IR/ReplaceConstant.h>

#include <set>

using namespace llvm;

namespace {

bool isKernel(const Function &F) { return F.getCallingConv() == CallingConv::SPIR_KERNEL; }

void instructionUsers(Constant *C, SmallVectorImpl<Instruction *> &Users) {
  for (User *U : C->users()) {
    if (auto *I = dyn_cast<Instruction>(U))
      Users.push_back(I);
    else if (auto *CE = dyn_cast<ConstantExpr>(U))
      instructionUsers(CE, Users);
  }
}

// Afterwards every use of Anchor in code is a direct operand of an instruction.
void expandConstantUses(GlobalVariable &Anchor) {
  SmallVector<ConstantExpr *, 16> Expressions;
  for (User *U : Anchor.users())
    if (auto *CE = dyn_cast<ConstantExpr>(U))
      Expressions.push_back(CE);
  for (ConstantExpr *CE : Expressions) {
    SmallVector<Instruction *, 16> Users;
    instructionUsers(CE, Users);
    SmallPtrSet<Instruction *, 16> Done;
    for (Instruction *I : Users)
      if (Done.insert(I).second)
        convertConstantExprsToInstructions(I, CE);
  }
  Anchor.removeDeadConstantUsers();
}

// The functions that need the parameter: kernels, those using Anchor, and their callers.
bool functionsNeedingParameter(Module &M, GlobalVariable &Anchor, std::set<Function *> &Need,
                               std::string &Log) {
  std::vector<Function *> Work;
  for (Function &F : M)
    if (!F.isDeclaration() && isKernel(F))
      Work.push_back(&F);
  for (User *U : Anchor.users())
    if (auto *I = dyn_cast<Instruction>(U))
      Work.push_back(I->getFunction());
  while (!Work.empty()) {
    Function *F = Work.back();
    Work.pop_back();
    if (!Need.insert(F).second)
      continue;
    for (User *U : F->users()) {
      auto *Call = dyn_cast<CallInst>(U);
      if (!Call || Call->getCalledFunction() != F) {
        Log += "note: '" + F->getName().str() +
               "' reaches program variables and is used other than by calls\n";
        return false;
      }
      Work.push_back(Call->getFunction());
    }
  }
  return true;
}

// F with one more parameter, its body moved over; F is left an empty declaration.
Function *withParameter(Function &F, Type *Parameter) {
  FunctionType *Old = F.getFunctionType();
  SmallVector<Type *, 8> Params(Old->param_begin(), Old->param_end());
  Params.push_back(Parameter);
  FunctionType *Type = FunctionType::get(Old->getReturnType(), Params, Old->isVarArg());
  Function *New = Function::Create(Type, F.getLinkage(), F.getAddressSpace(), "", F.getParent());
  New->copyAttributesFrom(&F);
  New->copyMetadata(&F, 0);
  New->getBasicBlockList().splice(New->begin(), F.getBasicBlockList());
  for (auto [From, To] : zip(F.args(), New->args())) {
    From.replaceAllUsesWith(&To);
    To.takeName(&From);
  }
  New->getArg(Old->getNumParams())->setName(kGlobalsParameterName);
  New->takeName(&F);
  return New;
}

// The kernel's argument descriptions get one entry for the new parameter.
void describeParameter(Function &Kernel) {
  LLVMContext &Context = Kernel.getContext();
  Metadata *One = ConstantAsMetadata::get(ConstantInt::get(Type::getInt32Ty(Context), 1));
  const std::pair<const char *, Metadata *> Entries[] = {
      {"kernel_arg_addr_space", One},
      {"kernel_arg_access_qual", MDString::get(Context, "none")},
      {"kernel_arg_type", MDString::get(Context, "char*")},
      {"kernel_arg_base_type", MDString::get(Context, "char*")},
      {"kernel_arg_type_qual", MDString::get(Context, "")},
      {"kernel_arg_name", MDString::get(Context, kGlobalsParameterName)}};
  for (auto &[Kind, Entry] : Entries)
    if (MDNode *Node = Kernel.getMetadata(Kind)) {
      SmallVector<Metadata *, 8> Operands(Node->op_begin(), Node->op_end());
      Operands.push_back(Entry);
      Kernel.setMetadata(Kind, MDNode::get(Context, Operands));
    }
}

} // namespace

bool passGlobalsByParameter(Module &M, GlobalVariable &Anchor, std::string &Log) {
  expandConstantUses(Anchor);
  for (User *U : Anchor.users())
    if (!isa<Instruction>(U)) {
      Log += "note: program variables are reached from outside code\n";
      return false;
    }
  std::set<Function *> Need;
  if (!functionsNeedingParameter(M, Anchor, Need, Log))
    return false;
  // In module order, so that the module comes out the same in every process.
  std::vector<std::pair<Function *, Function *>> Replaced;
  for (Function &F : M)
    if (Need.count(&F))
      Replaced.push_back({&F, nullptr});
  for (auto &[Old, New] : Replaced)
    New = withParameter(*Old, Anchor.getType());
  for (User *U : make_early_inc_range(Anchor.users())) {
    auto *I = cast<Instruction>(U);
    Function *F = I->getFunction();
    I->replaceUsesOfWith(&Anchor, F->getArg(F->arg_size() - 1));
  }
  for (auto &[Old, New] : Replaced) {
    for (User *U : make_early_inc_range(Old->users())) {
      auto *Call = cast<CallInst>(U);
      Function *Caller = Call->getFunction();
      SmallVector<Value *, 8> Args(Call->args());
      Args.push_back(Caller->getArg(Caller->arg_size() - 1));
      CallInst *Passing = CallInst::Create(New->getFunctionType(), New, Args, "", Call);
      Passing->setCallingConv(Call->getCallingConv());
      Passing->setAttributes(Call->getAttributes());
      Passing->setTailCallKind(Call->getTailCallKind());
      Passing->setDebugLoc(Call->getDebugLoc());
      Passing->takeName(Call);
      Call->replaceAllUsesWith(Passing);
      Call->eraseFromParent();
    }
    if (isKernel(*New))
      describeParameter(*New);
    Old->eraseFromParent();
  }
  Anchor.eraseFromParent();
  return true;
}
