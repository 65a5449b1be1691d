// Programs from IL, source or binaries; build, compile and link; globals backed by host memory.
#include "api.h"
#include "call.h"
#include "info.h"
#include "scenario.h"

#include <algorithm>
#include <cstring>

namespace fakecl {

static ProgramObj *programOf(State &S, cl_program P) {
  return isLive(S, P, ObjectKind::Program) ? P->Obj : nullptr;
}

static ProgramObj *newProgram(State &S, ContextObj &Ctx, ModuleDecl Module) {
  auto *P = new ProgramObj();
  P->Handle = {dispatchTable(), P};
  P->Context = &Ctx.Handle;
  P->Module = std::move(Module);
  retainContext(S, Ctx);
  trackObject(S, ObjectKind::Program, &P->Handle);
  return P;
}

static cl_program createFromBytes(Call &C, cl_context Context, const void *Bytes, size_t Size, bool FromBinary,
                                  cl_int *ErrcodeRet) {
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.fail<cl_program>(CL_INVALID_CONTEXT, ErrcodeRet);
  ModuleDecl Module;
  std::string Error;
  std::string Configured;
  if (FromBinary && !C.S.BinaryModule.empty() && !hasModuleMarker(Bytes, Size)) {
    Configured = std::string(ModuleMarker) + "\n" + C.S.BinaryModule;
    Bytes = Configured.data();
    Size = Configured.size();
  }
  if (!parseModule(static_cast<const unsigned char *>(Bytes), Size, Module, Error))
    return C.fail<cl_program>(FromBinary ? CL_INVALID_BINARY : CL_INVALID_VALUE, ErrcodeRet);
  ProgramObj *P = newProgram(C.S, *Ctx, std::move(Module));
  P->FromBinary = FromBinary;
  const unsigned char *B = static_cast<const unsigned char *>(Bytes);
  P->Source.assign(B, B + Size);
  return C.retHandle(&P->Handle, CL_SUCCESS, ErrcodeRet);
}

cl_program CL_API_CALL CreateProgramWithIL(cl_context Context, const void *IL, size_t Length, cl_int *ErrcodeRet) {
  Call C("clCreateProgramWithIL", Context, IL, Length, ErrcodeRet);
  if (cl_int E = C.fault())
    return C.fail<cl_program>(E, ErrcodeRet);
  if (!IL || !Length)
    return C.fail<cl_program>(contextOf(C.S, Context) ? CL_INVALID_VALUE : CL_INVALID_CONTEXT, ErrcodeRet);
  return createFromBytes(C, Context, IL, Length, false, ErrcodeRet);
}

cl_program CL_API_CALL CreateProgramWithSource(cl_context Context, cl_uint Count, const char **Strings,
                                               const size_t *Lengths, cl_int *ErrcodeRet) {
  Call C("clCreateProgramWithSource", Context, Count, Strings, Lengths, ErrcodeRet);
  if (cl_int E = C.fault())
    return C.fail<cl_program>(E, ErrcodeRet);
  if (!Count || !Strings)
    return C.fail<cl_program>(CL_INVALID_VALUE, ErrcodeRet);
  std::string Text;
  for (cl_uint I = 0; I < Count; ++I) {
    if (!Strings[I])
      return C.fail<cl_program>(CL_INVALID_VALUE, ErrcodeRet);
    Text += Lengths && Lengths[I] ? std::string(Strings[I], Lengths[I]) : std::string(Strings[I]);
  }
  return createFromBytes(C, Context, Text.data(), Text.size(), false, ErrcodeRet);
}

cl_program CL_API_CALL CreateProgramWithBinary(cl_context Context, cl_uint NumDevices, const cl_device_id *Devices,
                                               const size_t *Lengths, const unsigned char **Binaries,
                                               cl_int *BinaryStatus, cl_int *ErrcodeRet) {
  Call C("clCreateProgramWithBinary", Context, NumDevices, HandleArray<cl_device_id>{Devices, Devices ? NumDevices : 0},
         SizeArray{Lengths, Lengths ? NumDevices : 0}, Binaries, BinaryStatus, ErrcodeRet);
  if (cl_int E = C.fault())
    return C.fail<cl_program>(E, ErrcodeRet);
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.fail<cl_program>(CL_INVALID_CONTEXT, ErrcodeRet);
  if (!NumDevices || !Devices || !Lengths || !Binaries)
    return C.fail<cl_program>(CL_INVALID_VALUE, ErrcodeRet);
  for (cl_uint I = 0; I < NumDevices; ++I) {
    if (std::find(Ctx->Devices.begin(), Ctx->Devices.end(), Devices[I]) == Ctx->Devices.end())
      return C.fail<cl_program>(CL_INVALID_DEVICE, ErrcodeRet);
    bool Bad = !Lengths[I] || !Binaries[I];
    if (BinaryStatus)
      BinaryStatus[I] = Bad ? CL_INVALID_VALUE : CL_SUCCESS;
    if (Bad)
      return C.fail<cl_program>(CL_INVALID_VALUE, ErrcodeRet);
  }
  return createFromBytes(C, Context, Binaries[0], Lengths[0], true, ErrcodeRet);
}

// Gives the program its globals (and the offload table its entries describe) in host memory.
static void makeExecutable(State &S, ProgramObj &P) {
  P.State = ProgramState::Executable;
  P.Globals.clear();
  P.EntryNames.clear();
  for (const GlobalDecl &G : P.Module.Globals) {
    GlobalStorage Storage;
    Storage.Name = G.Name;
    Storage.Size = G.Size;
    Storage.Bytes.reset(new unsigned char[std::max<size_t>(G.Size, 1)]());
    if (!G.Init.empty()) // no initialiser: zeros
      std::memcpy(Storage.Bytes.get(), G.Init.data(), std::min(G.Init.size(), G.Size));
    P.Globals.push_back(std::move(Storage));
  }
  if (!P.Module.Entries.empty()) {
    constexpr size_t RecordSize = 40;
    const size_t TableSize = RecordSize * P.Module.Entries.size();
    GlobalStorage Table;
    Table.Name = "__omp_offloading_entries_table";
    Table.Size = TableSize;
    Table.Bytes.reset(new unsigned char[TableSize]());
    for (size_t I = 0; I < P.Module.Entries.size(); ++I) {
      const EntryDecl &E = P.Module.Entries[I];
      cl_ulong NameSize = E.NameSize >= 0 ? static_cast<cl_ulong>(E.NameSize) : E.Name.size() + 1;
      // The name's storage covers its declared size too, zero-padded, so that a reader trusting
      // a wrong size stays inside it.
      size_t Storage = std::max<size_t>(E.Name.size() + 1, static_cast<size_t>(NameSize));
      P.EntryNames.emplace_back(new char[Storage]());
      std::memcpy(P.EntryNames.back().get(), E.Name.c_str(), E.Name.size() + 1);
      cl_ulong Address = E.Address;
      for (const GlobalStorage &G : P.Globals)
        if (!E.Global.empty() && G.Name == E.Global)
          Address = reinterpret_cast<uintptr_t>(G.Bytes.get());
      cl_ulong Name = E.NoName ? 0 : reinterpret_cast<uintptr_t>(P.EntryNames.back().get());
      unsigned char *R = Table.Bytes.get() + I * RecordSize;
      std::memcpy(R + 0, &Address, 8);
      std::memcpy(R + 8, &Name, 8);
      std::memcpy(R + 16, &E.Size, 8);
      std::memcpy(R + 24, &E.Flags, 4);
      std::memcpy(R + 32, &NameSize, 8);
    }
    GlobalStorage SizeGlobal;
    SizeGlobal.Name = "__omp_offloading_entries_table_size";
    SizeGlobal.Size = 8;
    SizeGlobal.Bytes.reset(new unsigned char[8]());
    cl_ulong Bytes = TableSize;
    std::memcpy(SizeGlobal.Bytes.get(), &Bytes, 8);
    P.Globals.push_back(std::move(Table));
    P.Globals.push_back(std::move(SizeGlobal));
  }
  S.ExecutablePrograms.push_back(&P);
}

static std::string buildLog(const State &S, const ProgramObj &P) {
  std::string Log = S.BuildLog;
  if (!P.Module.Log.empty())
    Log += (Log.empty() ? "" : "\n") + P.Module.Log;
  return Log;
}

static cl_int build(cl_program Program, cl_uint NumDevices, const cl_device_id *Devices, const char *Options,
                   ProgramNotify Notify, void *UserData) {
  Call C("clBuildProgram", Program, NumDevices, HandleArray<cl_device_id>{Devices, Devices ? NumDevices : 0},
         Str{Options}, reinterpret_cast<void *>(Notify), UserData);
  ProgramObj *P = programOf(C.S, Program);
  cl_int Fault = C.fault();
  if (!P)
    return C.ret(Fault ? Fault : CL_INVALID_PROGRAM);
  if ((NumDevices && !Devices) || (!NumDevices && Devices) || (!Notify && UserData))
    return C.ret(CL_INVALID_VALUE);
  if (P->KernelCount)
    return C.ret(CL_INVALID_OPERATION);
  P->Options = Options ? Options : "";
  P->Log = buildLog(C.S, *P);
  if (Fault || P->Module.BuildFails) {
    P->State = ProgramState::Failed;
    return C.ret(Fault ? Fault : CL_BUILD_PROGRAM_FAILURE);
  }
  makeExecutable(C.S, *P);
  return C.ret(CL_SUCCESS);
}

// The callback runs once the build is over, without the driver's lock, as a real driver runs it.
cl_int CL_API_CALL BuildProgram(cl_program Program, cl_uint NumDevices, const cl_device_id *Devices,
                                const char *Options, ProgramNotify Notify, void *UserData) {
  cl_int Result = build(Program, NumDevices, Devices, Options, Notify, UserData);
  if (Notify && Result != CL_INVALID_VALUE && Result != CL_INVALID_PROGRAM)
    Notify(Program, UserData);
  return Result;
}

cl_int CL_API_CALL CompileProgram(cl_program Program, cl_uint NumDevices, const cl_device_id *Devices,
                                  const char *Options, cl_uint NumHeaders, const cl_program *Headers,
                                  const char **HeaderNames, ProgramNotify Notify, void *UserData) {
  Call C("clCompileProgram", Program, NumDevices, HandleArray<cl_device_id>{Devices, Devices ? NumDevices : 0},
         Str{Options}, NumHeaders, Headers, HeaderNames, reinterpret_cast<void *>(Notify), UserData);
  ProgramObj *P = programOf(C.S, Program);
  cl_int Fault = C.fault();
  if (!P)
    return C.ret(Fault ? Fault : CL_INVALID_PROGRAM);
  if ((NumDevices && !Devices) || (!NumDevices && Devices) || (!Notify && UserData) ||
      (NumHeaders && (!Headers || !HeaderNames)))
    return C.ret(CL_INVALID_VALUE);
  if (P->FromBinary || P->KernelCount)
    return C.ret(CL_INVALID_OPERATION);
  P->Options = Options ? Options : "";
  P->Log = buildLog(C.S, *P);
  if (Fault || P->Module.BuildFails) {
    P->State = ProgramState::Failed;
    return C.ret(Fault ? Fault : CL_COMPILE_PROGRAM_FAILURE);
  }
  P->State = ProgramState::Compiled;
  return C.ret(CL_SUCCESS);
}

cl_program CL_API_CALL LinkProgram(cl_context Context, cl_uint NumDevices, const cl_device_id *Devices,
                                   const char *Options, cl_uint NumPrograms, const cl_program *Programs,
                                   ProgramNotify Notify, void *UserData, cl_int *ErrcodeRet) {
  Call C("clLinkProgram", Context, NumDevices, HandleArray<cl_device_id>{Devices, Devices ? NumDevices : 0},
         Str{Options}, NumPrograms, HandleArray<cl_program>{Programs, Programs ? NumPrograms : 0},
         reinterpret_cast<void *>(Notify), UserData, ErrcodeRet);
  if (cl_int E = C.fault())
    return C.fail<cl_program>(E, ErrcodeRet);
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.fail<cl_program>(CL_INVALID_CONTEXT, ErrcodeRet);
  if (!NumPrograms || !Programs || (NumDevices && !Devices) || (!NumDevices && Devices) || (!Notify && UserData))
    return C.fail<cl_program>(CL_INVALID_VALUE, ErrcodeRet);
  ModuleDecl Linked;
  for (cl_uint I = 0; I < NumPrograms; ++I) {
    ProgramObj *P = programOf(C.S, Programs[I]);
    if (!P)
      return C.fail<cl_program>(CL_INVALID_PROGRAM, ErrcodeRet);
    bool Linkable = P->State == ProgramState::Compiled || (P->FromBinary && P->State != ProgramState::Failed);
    if (!Linkable)
      return C.fail<cl_program>(CL_INVALID_OPERATION, ErrcodeRet);
    const ModuleDecl &M = P->Module;
    Linked.Kernels.insert(Linked.Kernels.end(), M.Kernels.begin(), M.Kernels.end());
    Linked.Globals.insert(Linked.Globals.end(), M.Globals.begin(), M.Globals.end());
    Linked.Entries.insert(Linked.Entries.end(), M.Entries.begin(), M.Entries.end());
    Linked.BuildFails |= M.BuildFails;
    if (!M.Log.empty())
      Linked.Log += (Linked.Log.empty() ? "" : "\n") + M.Log;
  }
  cl_int Status = CL_SUCCESS;
  ProgramObj &P = *newProgram(C.S, *Ctx, std::move(Linked));
  cl_program Result = &P.Handle;
  P.Linked = true;
  P.Options = Options ? Options : "";
  P.Log = buildLog(C.S, P);
  // A failed link still returns the program so that its log can be read.
  if (P.Module.BuildFails) {
    P.State = ProgramState::Failed;
    Status = CL_LINK_PROGRAM_FAILURE;
  } else {
    makeExecutable(C.S, P);
  }
  return C.retHandle(Result, Status, ErrcodeRet);
}

void releaseProgram(State &S, ProgramObj &P) {
  if (--P.RefCount)
    return;
  S.ExecutablePrograms.erase(std::remove(S.ExecutablePrograms.begin(), S.ExecutablePrograms.end(), &P),
                             S.ExecutablePrograms.end());
  ContextObj *Ctx = P.Context->Obj;
  retire(S, &P);
  releaseContext(S, *Ctx);
}

cl_int CL_API_CALL RetainProgram(cl_program Program) {
  Call C("clRetainProgram", Program);
  if (cl_int E = C.fault())
    return C.ret(E);
  ProgramObj *P = programOf(C.S, Program);
  if (!P)
    return C.ret(CL_INVALID_PROGRAM);
  ++P->RefCount;
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL ReleaseProgram(cl_program Program) {
  Call C("clReleaseProgram", Program);
  if (cl_int E = C.fault())
    return C.ret(E);
  ProgramObj *P = programOf(C.S, Program);
  if (!P)
    return C.ret(CL_INVALID_PROGRAM);
  releaseProgram(C.S, *P);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetProgramInfo(cl_program Program, cl_program_info Param, size_t Size, void *Value,
                                  size_t *SizeRet) {
  Call C("clGetProgramInfo", Program, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  ProgramObj *P = programOf(C.S, Program);
  if (!P)
    return C.ret(CL_INVALID_PROGRAM);
  const std::vector<cl_device_id> &Devices = P->Context->Obj->Devices;
  std::string Names;
  switch (Param) {
  case CL_PROGRAM_REFERENCE_COUNT:
    return C.ret(answerScalar<cl_uint>(P->RefCount, Size, Value, SizeRet));
  case CL_PROGRAM_CONTEXT:
    return C.ret(answerScalar(P->Context, Size, Value, SizeRet));
  case CL_PROGRAM_NUM_DEVICES:
    return C.ret(answerScalar<cl_uint>(static_cast<cl_uint>(Devices.size()), Size, Value, SizeRet));
  case CL_PROGRAM_DEVICES:
    return C.ret(answerBytes(Devices.data(), Devices.size() * sizeof(cl_device_id), Size, Value, SizeRet));
  case CL_PROGRAM_IL:
    return C.ret(answerBytes(P->Source.data(), P->FromBinary ? 0 : P->Source.size(), Size, Value, SizeRet));
  case CL_PROGRAM_NUM_KERNELS:
  case CL_PROGRAM_KERNEL_NAMES:
    if (P->State != ProgramState::Executable)
      return C.ret(CL_INVALID_PROGRAM_EXECUTABLE);
    if (Param == CL_PROGRAM_NUM_KERNELS)
      return C.ret(answerScalar<size_t>(P->Module.Kernels.size(), Size, Value, SizeRet));
    for (const KernelDecl &K : P->Module.Kernels)
      Names += (Names.empty() ? "" : ";") + K.Name;
    return C.ret(answerString(Names, Size, Value, SizeRet));
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

cl_int CL_API_CALL GetProgramBuildInfo(cl_program Program, cl_device_id Device, cl_program_build_info Param,
                                       size_t Size, void *Value, size_t *SizeRet) {
  Call C("clGetProgramBuildInfo", Program, Device, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  ProgramObj *P = programOf(C.S, Program);
  if (!P)
    return C.ret(CL_INVALID_PROGRAM);
  const std::vector<cl_device_id> &Devices = P->Context->Obj->Devices;
  if (std::find(Devices.begin(), Devices.end(), Device) == Devices.end())
    return C.ret(CL_INVALID_DEVICE);
  switch (Param) {
  case CL_PROGRAM_BUILD_STATUS: {
    cl_build_status Status = P->State == ProgramState::Created   ? CL_BUILD_NONE
                             : P->State == ProgramState::Failed ? CL_BUILD_ERROR
                                                                : CL_BUILD_SUCCESS;
    return C.ret(answerScalar(Status, Size, Value, SizeRet));
  }
  case CL_PROGRAM_BUILD_OPTIONS:
    return C.ret(answerString(P->Options, Size, Value, SizeRet));
  case CL_PROGRAM_BUILD_LOG:
    return C.ret(answerString(P->Log, Size, Value, SizeRet));
  case CL_PROGRAM_BINARY_TYPE: {
    cl_program_binary_type Type = P->State == ProgramState::Executable ? CL_PROGRAM_BINARY_TYPE_EXECUTABLE
                                  : P->State == ProgramState::Compiled ? CL_PROGRAM_BINARY_TYPE_COMPILED_OBJECT
                                                                       : CL_PROGRAM_BINARY_TYPE_NONE;
    return C.ret(answerScalar(Type, Size, Value, SizeRet));
  }
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

cl_int CL_API_CALL SetProgramSpecializationConstant(cl_program Program, cl_uint SpecId, size_t SpecSize,
                                                    const void *SpecValue) {
  Call C("clSetProgramSpecializationConstant", Program, Hex{SpecId}, SpecSize, SpecValue);
  if (cl_int E = C.fault())
    return C.ret(E);
  ProgramObj *P = programOf(C.S, Program);
  if (!P || P->FromBinary)
    return C.ret(CL_INVALID_PROGRAM);
  if (!SpecValue || !SpecSize)
    return C.ret(CL_INVALID_VALUE);
  const unsigned char *B = static_cast<const unsigned char *>(SpecValue);
  P->SpecConstants[SpecId].assign(B, B + SpecSize);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetDeviceGlobalVariablePointer(cl_device_id Device, cl_program Program, const char *Name,
                                                  size_t *SizeRet, void **PointerRet) {
  Call C("clGetDeviceGlobalVariablePointerTARNO", Device, Program, Str{Name}, SizeRet, PointerRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  ProgramObj *P = programOf(C.S, Program);
  if (!P)
    return C.ret(CL_INVALID_PROGRAM);
  if (!deviceOf(C.S, Device))
    return C.ret(CL_INVALID_DEVICE);
  if (P->State != ProgramState::Executable)
    return C.ret(CL_INVALID_PROGRAM_EXECUTABLE);
  if (!Name || !PointerRet)
    return C.ret(CL_INVALID_VALUE);
  for (GlobalStorage &G : P->Globals)
    if (G.Name == Name) {
      *PointerRet = G.Bytes.get();
      if (SizeRet)
        *SizeRet = G.Size;
      return C.ret(CL_SUCCESS);
    }
  return C.ret(CL_INVALID_ARG_VALUE);
}

} // namespace fakecl
