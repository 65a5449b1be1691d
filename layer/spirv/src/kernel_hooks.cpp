// Kernel creation, reference counting and the queries that depend on where a kernel came from.
#include "kernel_hooks.h"

#include "device_caps.h"
#include "exception_barrier.h"
#include "info_answer.h"
#include "kernel_set_up.h"
#include "layer_state.h"
#include "program_registry.h"

#include <cstring>

std::map<cl_kernel, KernelRecord> &kernelRecords() {
  static auto *Records = new std::map<cl_kernel, KernelRecord>(); // until the process ends
  return *Records;
}

namespace {

// The caller's SVM pointer list with the program's variables added: the driver must know the
// block whichever way the code reaches it.
cl_int sendPointerList(cl_kernel Kernel, void *GlobalsBlock, const void *const *Pointers,
                       size_t Count) {
  std::vector<const void *> List(Pointers, Pointers + Count);
  if (GlobalsBlock)
    List.push_back(GlobalsBlock);
  return gNext.clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS,
                                   List.size() * sizeof(void *), List.data());
}

// Keeps the record of a new kernel and gives it its hidden argument. A kernel that cannot be set
// up is released, and its creation fails with the driver's error: launched, it would fail or
// miss its program's variables.
cl_int trackKernel(cl_kernel Kernel, cl_program Owner, const KernelRecord *Template) {
  KernelRecord Record = Template ? *Template : KernelRecord();
  Record.RefCount = 1;
  Record.LayerProgram = Owner;
  cl_int Error = CL_SUCCESS;
  KernelAttachment Attachment;
  std::string Name;
  if (Owner && (Error = kernelFunctionName(Kernel, Name)) == CL_SUCCESS &&
      (Error = attachKernel(Owner, Name, Attachment)) == CL_SUCCESS &&
      ((Attachment.HiddenArgument &&
        (Error = gNext.clSetKernelArgSVMPointer(Kernel, Attachment.HiddenArgument - 1,
                                                Attachment.GlobalsBlock)) != CL_SUCCESS) ||
       (Attachment.GlobalsBlock &&
        (Error = sendPointerList(Kernel, Attachment.GlobalsBlock, nullptr, 0)) != CL_SUCCESS)))
    detachKernel(Owner);
  if (Error != CL_SUCCESS) {
    gNext.clReleaseKernel(Kernel);
    return Error;
  }
  Record.GlobalsBlock = Attachment.GlobalsBlock;
  Record.HiddenArgument = Attachment.HiddenArgument;
  if (!Owner)
    return CL_SUCCESS; // a driver's kernel: nothing to keep
  std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
  kernelRecords()[Kernel] = Record;
  return CL_SUCCESS;
}

cl_kernel failKernel(cl_int Error, cl_int *ErrcodeRet) {
  if (ErrcodeRet)
    *ErrcodeRet = Error;
  return nullptr;
}

// The index of a kernel's hidden argument plus one, or 0.
cl_uint hiddenArgument(cl_kernel Kernel) {
  std::shared_lock<std::shared_mutex> Guard(layerState().Lock);
  auto It = kernelRecords().find(Kernel);
  return It == kernelRecords().end() ? 0 : It->second.HiddenArgument;
}

cl_int hookSetKernelArg(cl_kernel Kernel, cl_uint Index, size_t Size,
                                    const void *Value) {
  cl_uint Hidden = hiddenArgument(Kernel);
  if (Hidden && Index >= Hidden - 1)
    return CL_INVALID_ARG_INDEX;
  return gNext.clSetKernelArg(Kernel, Index, Size, Value);
}

cl_kernel hookCreateKernel(cl_program Program, const char *Name,
                                       cl_int *ErrcodeRet) {
  cl_program Source = nullptr;
  bool Owned = false;
  cl_int Error = kernelSourceProgram(Program, Source, Owned);
  if (Error != CL_SUCCESS)
    return failKernel(Error, ErrcodeRet);
  cl_kernel Kernel = gNext.clCreateKernel(Source, Name, ErrcodeRet);
  if (Kernel && (Error = trackKernel(Kernel, Owned ? Program : nullptr, nullptr)) != CL_SUCCESS)
    return failKernel(Error, ErrcodeRet);
  return Kernel;
}

cl_int hookReleaseKernel(cl_kernel Kernel);

cl_int hookCreateKernelsInProgram(cl_program Program, cl_uint NumKernels,
                                              cl_kernel *Kernels, cl_uint *NumKernelsRet) {
  cl_program Source = nullptr;
  bool Owned = false;
  cl_int Error = kernelSourceProgram(Program, Source, Owned);
  if (Error != CL_SUCCESS)
    return Error;
  cl_uint Created = 0;
  Error = gNext.clCreateKernelsInProgram(Source, NumKernels, Kernels, &Created);
  if (Error != CL_SUCCESS)
    return Error;
  Error = setUpKernelsAllOrNone(
      Kernels, Created,
      [&](cl_kernel Kernel) { return trackKernel(Kernel, Owned ? Program : nullptr, nullptr); },
      hookReleaseKernel);
  if (Error != CL_SUCCESS)
    return Error;
  if (NumKernelsRet)
    *NumKernelsRet = Created;
  return CL_SUCCESS;
}

cl_kernel hookCloneKernel(cl_kernel Source, cl_int *ErrcodeRet) {
  cl_kernel Clone = gNext.clCloneKernel(Source, ErrcodeRet);
  if (!Clone)
    return nullptr;
  KernelRecord Template;
  bool Known = false;
  {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    auto It = kernelRecords().find(Source);
    if ((Known = It != kernelRecords().end()))
      Template = It->second;
  }
  cl_int Error =
      trackKernel(Clone, Known ? Template.LayerProgram : nullptr, Known ? &Template : nullptr);
  return Error == CL_SUCCESS ? Clone : failKernel(Error, ErrcodeRet);
}

cl_int hookRetainKernel(cl_kernel Kernel) {
  cl_int Error = gNext.clRetainKernel(Kernel);
  if (Error == CL_SUCCESS) {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    auto It = kernelRecords().find(Kernel);
    if (It != kernelRecords().end())
      ++It->second.RefCount;
  }
  return Error;
}

cl_int hookReleaseKernel(cl_kernel Kernel) {
  cl_program Owner = nullptr;
  {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    auto It = kernelRecords().find(Kernel);
    if (It != kernelRecords().end() && --It->second.RefCount == 0) {
      Owner = It->second.LayerProgram;
      kernelRecords().erase(It);
    }
  }
  cl_int Error = gNext.clReleaseKernel(Kernel);
  if (Owner)
    detachKernel(Owner);
  return Error;
}

} // namespace

cl_int hookSetKernelArgSVMPointer(cl_kernel Kernel, cl_uint Index, const void *Value) {
  cl_uint Hidden = hiddenArgument(Kernel);
  if (Hidden && Index >= Hidden - 1)
    return CL_INVALID_ARG_INDEX;
  return gNext.clSetKernelArgSVMPointer(Kernel, Index, Value);
}

namespace {

void *globalsBlock(cl_kernel Kernel) {
  std::shared_lock<std::shared_mutex> Guard(layerState().Lock);
  auto It = kernelRecords().find(Kernel);
  return It == kernelRecords().end() ? nullptr : It->second.GlobalsBlock;
}

// A caller's SVM pointer list replaces the one the layer sent: the program's variables join it.
cl_int hookSetKernelExecInfo(cl_kernel Kernel, cl_kernel_exec_info Param, size_t Size,
                                         const void *Value) {
  void *Block = Param == CL_KERNEL_EXEC_INFO_SVM_PTRS ? globalsBlock(Kernel) : nullptr;
  if (!Block)
    return gNext.clSetKernelExecInfo(Kernel, Param, Size, Value);
  if (Size % sizeof(void *) != 0 || (Size != 0 && !Value))
    return CL_INVALID_VALUE;
  return sendPointerList(Kernel, Block, static_cast<const void *const *>(Value),
                         Size / sizeof(void *));
}

cl_program ownerProgram(cl_kernel Kernel) {
  std::shared_lock<std::shared_mutex> Guard(layerState().Lock);
  auto It = kernelRecords().find(Kernel);
  return It == kernelRecords().end() ? nullptr : It->second.LayerProgram;
}

cl_int hookGetKernelInfo(cl_kernel Kernel, cl_kernel_info Param, size_t Size,
                                     void *Value, size_t *SizeRet) {
  if (Param == CL_KERNEL_PROGRAM)
    if (cl_program Owner = ownerProgram(Kernel))
      return answerValue(Size, Value, SizeRet, Owner);
  if (Param == CL_KERNEL_NUM_ARGS)
    if (cl_uint Hidden = hiddenArgument(Kernel))
      return answerValue(Size, Value, SizeRet, Hidden - 1);
  return gNext.clGetKernelInfo(Kernel, Param, Size, Value, SizeRet);
}

// Argument details the driver cannot give for bitcode programs come from the module.
cl_int hookGetKernelArgInfo(cl_kernel Kernel, cl_uint Index, cl_kernel_arg_info Param,
                                        size_t Size, void *Value, size_t *SizeRet) {
  cl_int Error = gNext.clGetKernelArgInfo(Kernel, Index, Param, Size, Value, SizeRet);
  if (Error != CL_KERNEL_ARG_INFO_NOT_AVAILABLE && Error != CL_INVALID_OPERATION)
    return Error;
  cl_program Owner = ownerProgram(Kernel);
  KernelDesc Desc;
  if (!Owner || !ownedKernelDesc(Owner, kernelFunctionName(Kernel), Desc))
    return Error;
  if (Index >= Desc.Args.size())
    return CL_INVALID_ARG_INDEX;
  const KernelArgDesc &Arg = Desc.Args[Index];
  switch (Param) {
  case CL_KERNEL_ARG_ADDRESS_QUALIFIER:
    return answerValue(Size, Value, SizeRet, Arg.Address);
  case CL_KERNEL_ARG_ACCESS_QUALIFIER:
    return answerValue(Size, Value, SizeRet, Arg.Access);
  case CL_KERNEL_ARG_TYPE_NAME:
    return answerText(Size, Value, SizeRet, Arg.TypeName);
  case CL_KERNEL_ARG_TYPE_QUALIFIER:
    return answerValue(Size, Value, SizeRet, Arg.TypeQualifier);
  case CL_KERNEL_ARG_NAME:
    return answerText(Size, Value, SizeRet, Arg.Name);
  default:
    return CL_INVALID_VALUE;
  }
}

} // namespace

cl_int kernelFunctionName(cl_kernel Kernel, std::string &Name) {
  Name.clear();
  size_t Size = 0;
  if (cl_int Error = gNext.clGetKernelInfo(Kernel, CL_KERNEL_FUNCTION_NAME, 0, nullptr, &Size))
    return Error;
  Name.assign(Size, '\0');
  if (cl_int Error =
          gNext.clGetKernelInfo(Kernel, CL_KERNEL_FUNCTION_NAME, Size, Name.data(), nullptr)) {
    Name.clear();
    return Error;
  }
  Name.resize(std::strlen(Name.c_str()));
  return CL_SUCCESS;
}

std::string kernelFunctionName(cl_kernel Kernel) {
  std::string Name;
  kernelFunctionName(Kernel, Name);
  return Name;
}

void installKernelHooks(cl_icd_dispatch &Table) {
  Table.clCreateKernel = guarded<hookCreateKernel>;
  Table.clCreateKernelsInProgram = guarded<hookCreateKernelsInProgram>;
  Table.clCloneKernel = guarded<hookCloneKernel>;
  Table.clRetainKernel = guarded<hookRetainKernel>;
  Table.clReleaseKernel = guarded<hookReleaseKernel>;
  Table.clGetKernelInfo = guarded<hookGetKernelInfo>;
  Table.clGetKernelArgInfo = guarded<hookGetKernelArgInfo>;
  Table.clSetKernelArg = guarded<hookSetKernelArg>;
  Table.clSetKernelArgSVMPointer = guarded<hookSetKernelArgSVMPointer>;
  Table.clSetKernelExecInfo = guarded<hookSetKernelExecInfo>;
}
