// Kernels: creation, queries with scriptable answers, arguments, and launches that run a test's
// kernel body.
#include "api.h"
#include "call.h"
#include "commands.h"
#include "info.h"

#include <algorithm>
#include <cstring>

namespace fakecl {

static KernelObj *kernelOf(State &S, cl_kernel K) { return isLive(S, K, ObjectKind::Kernel) ? K->Obj : nullptr; }

cl_kernel CL_API_CALL CreateKernel(cl_program Program, const char *Name, cl_int *ErrcodeRet) {
  Call C("clCreateKernel", Program, Str{Name}, ErrcodeRet);
  if (cl_int E = C.fault())
    return C.fail<cl_kernel>(E, ErrcodeRet);
  if (!isLive(C.S, Program, ObjectKind::Program))
    return C.fail<cl_kernel>(CL_INVALID_PROGRAM, ErrcodeRet);
  ProgramObj &P = *Program->Obj;
  if (P.State != ProgramState::Executable)
    return C.fail<cl_kernel>(CL_INVALID_PROGRAM_EXECUTABLE, ErrcodeRet);
  if (!Name)
    return C.fail<cl_kernel>(CL_INVALID_VALUE, ErrcodeRet);
  auto Decl = std::find_if(P.Module.Kernels.begin(), P.Module.Kernels.end(),
                           [&](const KernelDecl &K) { return K.Name == Name; });
  if (Decl == P.Module.Kernels.end())
    return C.fail<cl_kernel>(CL_INVALID_KERNEL_NAME, ErrcodeRet);
  auto *K = new KernelObj();
  K->Handle = {dispatchTable(), K};
  K->Program = Program;
  K->Decl = *Decl;
  auto Overrides = C.S.KernelInfoOverrides.find(Name);
  if (Overrides != C.S.KernelInfoOverrides.end())
    for (auto &O : Overrides->second)
      K->Decl.Info[O.first] = O.second;
  K->Args.resize(K->Decl.NumArgs);
  ++P.RefCount; // a kernel keeps its program alive
  ++P.KernelCount;
  trackObject(C.S, ObjectKind::Kernel, &K->Handle);
  return C.retHandle(&K->Handle, CL_SUCCESS, ErrcodeRet);
}

cl_int CL_API_CALL RetainKernel(cl_kernel Kernel) {
  Call C("clRetainKernel", Kernel);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  ++K->RefCount;
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL ReleaseKernel(cl_kernel Kernel) {
  Call C("clReleaseKernel", Kernel);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (--K->RefCount == 0) {
    ProgramObj &P = *K->Program->Obj;
    --P.KernelCount;
    retire(C.S, K);
    releaseProgram(C.S, P);
  }
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetKernelInfo(cl_kernel Kernel, cl_kernel_info Param, size_t Size, void *Value,
                                 size_t *SizeRet) {
  Call C("clGetKernelInfo", Kernel, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (const InfoValue *V = findInfo(K->Decl.Info, Param))
    return C.ret(answerInfo(V, Size, Value, SizeRet));
  switch (Param) {
  case CL_KERNEL_FUNCTION_NAME:
    return C.ret(answerString(K->Decl.Name, Size, Value, SizeRet));
  case CL_KERNEL_NUM_ARGS:
    return C.ret(answerScalar<cl_uint>(K->Decl.NumArgs, Size, Value, SizeRet));
  case CL_KERNEL_REFERENCE_COUNT:
    return C.ret(answerScalar<cl_uint>(K->RefCount, Size, Value, SizeRet));
  case CL_KERNEL_CONTEXT:
    return C.ret(answerScalar(K->Program->Obj->Context, Size, Value, SizeRet));
  case CL_KERNEL_PROGRAM:
    return C.ret(answerScalar(K->Program, Size, Value, SizeRet));
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

cl_int CL_API_CALL GetKernelArgInfo(cl_kernel Kernel, cl_uint Index, cl_kernel_arg_info Param, size_t Size,
                                    void *Value, size_t *SizeRet) {
  Call C("clGetKernelArgInfo", Kernel, Index, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (Index >= K->Decl.NumArgs)
    return C.ret(CL_INVALID_ARG_INDEX);
  auto Item = [&](const std::vector<std::string> &List) { return Index < List.size() ? List[Index] : ""; };
  switch (Param) {
  case CL_KERNEL_ARG_TYPE_NAME:
    return C.ret(answerString(Item(K->Decl.ArgTypes), Size, Value, SizeRet));
  case CL_KERNEL_ARG_NAME:
    return C.ret(answerString(Item(K->Decl.ArgNames), Size, Value, SizeRet));
  case CL_KERNEL_ARG_ADDRESS_QUALIFIER:
    return C.ret(answerScalar<cl_kernel_arg_address_qualifier>(CL_KERNEL_ARG_ADDRESS_PRIVATE, Size, Value, SizeRet));
  case CL_KERNEL_ARG_ACCESS_QUALIFIER:
    return C.ret(answerScalar<cl_kernel_arg_access_qualifier>(CL_KERNEL_ARG_ACCESS_NONE, Size, Value, SizeRet));
  case CL_KERNEL_ARG_TYPE_QUALIFIER:
    return C.ret(answerScalar<cl_kernel_arg_type_qualifier>(CL_KERNEL_ARG_TYPE_NONE, Size, Value, SizeRet));
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

static bool deviceOfKernel(const KernelObj &K, cl_device_id Device) {
  const std::vector<cl_device_id> &Devices = K.Program->Obj->Context->Obj->Devices;
  if (!Device)
    return Devices.size() == 1;
  return std::find(Devices.begin(), Devices.end(), Device) != Devices.end();
}

cl_int CL_API_CALL GetKernelWorkGroupInfo(cl_kernel Kernel, cl_device_id Device, cl_kernel_work_group_info Param,
                                          size_t Size, void *Value, size_t *SizeRet) {
  Call C("clGetKernelWorkGroupInfo", Kernel, Device, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (!deviceOfKernel(*K, Device))
    return C.ret(CL_INVALID_DEVICE);
  return C.ret(answerInfo(findInfo(K->Decl.Info, Param), Size, Value, SizeRet));
}

cl_int CL_API_CALL GetKernelSubGroupInfo(cl_kernel Kernel, cl_device_id Device, cl_kernel_sub_group_info Param,
                                         size_t InputSize, const void *Input, size_t Size, void *Value,
                                         size_t *SizeRet) {
  Call C("clGetKernelSubGroupInfo", Kernel, Device, Hex{Param}, InputSize, Input, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (!deviceOfKernel(*K, Device))
    return C.ret(CL_INVALID_DEVICE);
  return C.ret(answerInfo(findInfo(K->Decl.Info, Param), Size, Value, SizeRet));
}

cl_int CL_API_CALL SetKernelArg(cl_kernel Kernel, cl_uint Index, size_t Size, const void *Value) {
  Call C("clSetKernelArg", Kernel, Index, Size, Value);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (Index >= K->Args.size())
    return C.ret(CL_INVALID_ARG_INDEX);
  if (Size == 0)
    return C.ret(CL_INVALID_ARG_SIZE);
  KernelArg &A = K->Args[Index];
  A = KernelArg();
  A.Size = Size;
  if (!Value) {
    A.Kind = ArgKind::Local;
    return C.ret(CL_SUCCESS);
  }
  A.Kind = ArgKind::Value;
  const unsigned char *B = static_cast<const unsigned char *>(Value);
  A.Bytes.assign(B, B + Size);
  return C.ret(CL_SUCCESS);
}

static cl_int setPointerArg(Call &C, cl_kernel Kernel, cl_uint Index, const void *Pointer) {
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (Index >= K->Args.size())
    return C.ret(CL_INVALID_ARG_INDEX);
  KernelArg &A = K->Args[Index];
  A = KernelArg();
  A.Kind = ArgKind::Pointer;
  A.Pointer = const_cast<void *>(Pointer);
  A.Size = sizeof(void *);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL SetKernelArgMemPointer(cl_kernel Kernel, cl_uint Index, const void *Pointer) {
  Call C("clSetKernelArgMemPointerTARNO", Kernel, Index, Pointer);
  return setPointerArg(C, Kernel, Index, Pointer);
}

cl_int CL_API_CALL SetKernelArgSVMPointer(cl_kernel Kernel, cl_uint Index, const void *Pointer) {
  Call C("clSetKernelArgSVMPointer", Kernel, Index, Pointer);
  return setPointerArg(C, Kernel, Index, Pointer);
}

cl_int CL_API_CALL SetKernelExecInfo(cl_kernel Kernel, cl_kernel_exec_info Param, size_t Size, const void *Value) {
  Call C("clSetKernelExecInfo", Kernel, Hex{Param}, Size, Value);
  if (cl_int E = C.fault())
    return C.ret(E);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (!Value)
    return C.ret(CL_INVALID_VALUE);
  if (Param == KernelExecUsmPtrs || Param == CL_KERNEL_EXEC_INFO_SVM_PTRS) {
    if (Size % sizeof(void *))
      return C.ret(CL_INVALID_VALUE);
    void *const *Ptrs = static_cast<void *const *>(Value);
    K->IndirectPointers.assign(Ptrs, Ptrs + Size / sizeof(void *));
  } else if (Param >= KernelExecIndirectHost && Param <= KernelExecIndirectShared) {
    if (Size != sizeof(cl_bool))
      return C.ret(CL_INVALID_VALUE);
    cl_uint Bit = 1u << (Param - KernelExecIndirectHost);
    if (*static_cast<const cl_bool *>(Value))
      K->IndirectFlags |= Bit;
    else
      K->IndirectFlags &= ~Bit;
  } else if (Param != CL_KERNEL_EXEC_INFO_SVM_FINE_GRAIN_SYSTEM || Size != sizeof(cl_bool)) {
    return C.ret(CL_INVALID_VALUE);
  }
  const unsigned char *B = static_cast<const unsigned char *>(Value);
  if (C.S.Recording)
    K->ExecInfo.emplace_back(Param, std::vector<unsigned char>(B, B + Size));
  return C.ret(CL_SUCCESS);
}

static size_t infoSize(const KernelObj &K, cl_uint Param, size_t Default) {
  const InfoValue *V = findInfo(K.Decl.Info, Param);
  size_t R = Default;
  if (V && !V->Fails && V->Bytes.size() == sizeof(size_t))
    std::memcpy(&R, V->Bytes.data(), sizeof(size_t));
  return R;
}

// What a launch captured at enqueue time, so later argument changes do not reach it.
struct LaunchRecord {
  std::string Name;
  fakecl_launch Launch{};
  std::vector<KernelArg> Args;
  std::vector<fakecl_kernel_arg> ArgViews;
  std::vector<void *> Indirect;
};

static void runKernelBody(State &S, LaunchRecord &R) {
  auto Body = S.KernelBodies.find(R.Name);
  if (Body == S.KernelBodies.end() || !Body->second.Fn)
    return;
  for (const KernelArg &A : R.Args)
    R.ArgViews.push_back({static_cast<uint32_t>(A.Kind), A.Size, A.Bytes.empty() ? nullptr : A.Bytes.data(),
                          A.Pointer});
  R.Launch.kernel_name = R.Name.c_str();
  R.Launch.num_args = static_cast<uint32_t>(R.ArgViews.size());
  R.Launch.args = R.ArgViews.data();
  R.Launch.num_indirect_pointers = static_cast<uint32_t>(R.Indirect.size());
  R.Launch.indirect_pointers = R.Indirect.data();
  Body->second.Fn(&R.Launch, Body->second.User);
}

cl_int CL_API_CALL EnqueueNDRangeKernel(cl_command_queue Queue, cl_kernel Kernel, cl_uint WorkDim,
                                        const size_t *Offset, const size_t *Global, const size_t *Local,
                                        cl_uint NumWait, const cl_event *WaitList, cl_event *Event) {
  Call C("clEnqueueNDRangeKernel", Queue, Kernel, WorkDim, SizeArray{Offset, Offset ? WorkDim : 0},
         SizeArray{Global, Global ? WorkDim : 0}, SizeArray{Local, Local ? WorkDim : 0}, NumWait,
         HandleArray<cl_event>{WaitList, WaitList ? NumWait : 0}, Event);
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (K->Program->Obj->Context != Q->Context)
    return C.ret(CL_INVALID_CONTEXT);
  if (WorkDim < 1 || WorkDim > 3)
    return C.ret(CL_INVALID_WORK_DIMENSION);
  if (!Global)
    return C.ret(CL_INVALID_GLOBAL_WORK_SIZE);
  size_t GroupItems = 1;
  for (cl_uint I = 0; I < WorkDim; ++I) {
    if (!Global[I])
      return C.ret(CL_INVALID_GLOBAL_WORK_SIZE);
    if (Local && (!Local[I] || Global[I] % Local[I]))
      return C.ret(CL_INVALID_WORK_GROUP_SIZE);
    GroupItems *= Local ? Local[I] : 1;
  }
  if (GroupItems > infoSize(*K, CL_KERNEL_WORK_GROUP_SIZE, 256))
    return C.ret(CL_INVALID_WORK_GROUP_SIZE);
  for (const KernelArg &A : K->Args)
    if (A.Kind == ArgKind::Unset)
      return C.ret(CL_INVALID_KERNEL_ARGS);
  auto R = std::make_shared<LaunchRecord>();
  R->Name = K->Decl.Name;
  R->Launch.work_dim = WorkDim;
  for (cl_uint I = 0; I < 3; ++I) {
    R->Launch.global_size[I] = I < WorkDim ? Global[I] : 1;
    R->Launch.local_size[I] = Local && I < WorkDim ? Local[I] : 0;
  }
  R->Args = K->Args;
  R->Indirect = K->IndirectPointers;
  R->Launch.indirect_flags = K->IndirectFlags;
  State *S = &C.S;
  return C.ret(submitCommand(C.S, *Q, CL_COMMAND_NDRANGE_KERNEL, false, [S, R] { runKernelBody(*S, *R); },
                             NumWait, WaitList, Event));
}

cl_int CL_API_CALL GetKernelSuggestedLocalWorkSize(cl_command_queue Queue, cl_kernel Kernel, cl_uint WorkDim,
                                                   const size_t *Offset, const size_t *Global, size_t *Suggested) {
  Call C("clGetKernelSuggestedLocalWorkSizeTARNO", Queue, Kernel, WorkDim, SizeArray{Offset, Offset ? WorkDim : 0},
         SizeArray{Global, Global ? WorkDim : 0}, Suggested);
  if (cl_int E = C.fault())
    return C.ret(E);
  if (!queueOf(C.S, Queue))
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  KernelObj *K = kernelOf(C.S, Kernel);
  if (!K)
    return C.ret(CL_INVALID_KERNEL);
  if (WorkDim < 1 || WorkDim > 3)
    return C.ret(CL_INVALID_WORK_DIMENSION);
  if (!Global || !Suggested)
    return C.ret(CL_INVALID_VALUE);
  if (!K->Decl.Suggested.empty()) {
    for (cl_uint I = 0; I < WorkDim; ++I)
      Suggested[I] = I < K->Decl.Suggested.size() ? K->Decl.Suggested[I] : 1;
    return C.ret(CL_SUCCESS);
  }
  // The largest power of two that divides each global size, within the kernel's group limit.
  size_t Budget = infoSize(*K, CL_KERNEL_WORK_GROUP_SIZE, 256);
  for (cl_uint I = 0; I < WorkDim; ++I) {
    if (!Global[I])
      return C.ret(CL_INVALID_GLOBAL_WORK_SIZE);
    size_t L = 1;
    while (L * 2 <= Budget && Global[I] % (L * 2) == 0)
      L *= 2;
    Suggested[I] = L;
    Budget /= L;
  }
  return C.ret(CL_SUCCESS);
}

} // namespace fakecl
