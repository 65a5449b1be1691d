// OpenCL program calls for programs the layer compiles: creation from SPIR-V, compile, link,
// build, queries and release. Other programs go to the driver unchanged.
#include "device_caps.h"
#include "exception_barrier.h"
#include "info_answer.h"
#include "layer_state.h"
#include "program_binary.h"
#include "program_registry.h"
#include "spirv_words.h"
#include "spirv_functions.h"

#include <algorithm>
#include <cstring>

namespace {

using NotifyFn = void(CL_CALLBACK *)(cl_program, void *);

bool ownedProgram(cl_program Program) {
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  return findProgram(Program) != nullptr;
}

// The context's devices when the layer compiles SPIR-V for it; false for a driver's context.
bool contextTranslatesSpirv(cl_context Context, std::vector<cl_device_id> *Devices = nullptr) {
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  auto It = State.Contexts.find(Context);
  if (It == State.Contexts.end() || !It->second.Served)
    return false;
  if (Devices)
    *Devices = It->second.Devices;
  return true;
}

// The handle the application sees: a driver program that is never built.
cl_program makePlaceholder(cl_context Context, cl_int &Error) {
  const char *Text = "/* program compiled by the OpenCL layer */\n";
  return gNext.clCreateProgramWithSource(Context, 1, &Text, nullptr, &Error);
}

std::vector<cl_device_id> chosenDevices(cl_uint NumDevices, const cl_device_id *Devices,
                                        const std::vector<cl_device_id> &Default) {
  if (NumDevices == 0)
    return Default;
  return std::vector<cl_device_id>(Devices, Devices + NumDevices);
}

bool devicesValid(cl_uint NumDevices, const cl_device_id *Devices,
                  const std::vector<cl_device_id> &Allowed) {
  for (cl_uint I = 0; I < NumDevices; ++I)
    if (std::find(Allowed.begin(), Allowed.end(), Devices[I]) == Allowed.end())
      return false;
  return true;
}

// Starts a compile or build on an owned program: marks it busy and takes out its inputs. Only
// programs made from SPIR-V can be compiled; anything else is refused with nothing changed.
cl_int beginWork(cl_program Program, cl_uint NumDevices, const cl_device_id *Devices,
                 bool Compile, ProgramRecord &Inputs) {
  if ((NumDevices == 0) != (Devices == nullptr))
    return CL_INVALID_VALUE;
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(Program);
  if (!Record)
    return CL_INVALID_PROGRAM;
  if (!devicesValid(NumDevices, Devices, Record->Devices))
    return CL_INVALID_DEVICE;
  if (Record->Busy || Record->AttachedKernels > 0 || (Compile && Record->Spirv.empty()))
    return CL_INVALID_OPERATION;
  Record->Busy = true;
  Inputs.Context = Record->Context;
  Inputs.Devices = chosenDevices(NumDevices, Devices, Record->Devices);
  Inputs.Spirv = Record->Spirv;
  Inputs.SpecConstants = Record->SpecConstants;
  Inputs.Bitcode = Record->Bitcode;
  Inputs.BinaryType = Record->BinaryType;
  return CL_SUCCESS;
}

// Ends the work: stores the outcome and hands back the executable it replaces.
ExecutableBuild finishWork(cl_program Program, bool Ok, cl_program_binary_type Type,
                           std::string Bitcode, ExecutableBuild Built, const char *Options,
                           std::string Log) {
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(Program);
  if (!Record) // released while busy: what was made goes away at once
    return Built;
  ExecutableBuild Old = std::move(Record->Built);
  Record->Built = std::move(Built);
  Record->Busy = false;
  Record->Status = Ok ? CL_BUILD_SUCCESS : CL_BUILD_ERROR;
  Record->Options = Options ? Options : "";
  Record->Log = std::move(Log);
  if (Ok) {
    Record->BinaryType = Type;
    Record->Bitcode = std::move(Bitcode);
  }
  return Old;
}

cl_program hookCreateProgramWithIL(cl_context Context, const void *Il, size_t Length,
                                               cl_int *ErrcodeRet) {
  std::vector<cl_device_id> ContextDevices;
  if (!contextTranslatesSpirv(Context, &ContextDevices))
    return gNext.clCreateProgramWithIL(Context, Il, Length, ErrcodeRet);
  cl_int Error = CL_SUCCESS;
  cl_program Program = nullptr;
  if (!looksLikeSpirv(Il, Length)) {
    Error = CL_INVALID_VALUE;
  } else if ((Program = makePlaceholder(Context, Error))) {
    auto Record = std::make_unique<ProgramRecord>();
    Record->Context = Context;
    Record->Devices = std::move(ContextDevices);
    // Kept in host byte order, whichever order it came in.
    std::vector<uint32_t> Words = spirvWords(Il, Length);
    auto Bytes = reinterpret_cast<const char *>(Words.data());
    Record->Spirv.assign(Bytes, Bytes + Length);
    {
      std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
      addProgram(Program, std::move(Record));
    }
    adoptChild(Context);
  }
  if (ErrcodeRet)
    *ErrcodeRet = Error;
  return Program;
}

// Binaries the layer gave out become its programs again, built by the layer: their variables
// are placed as in the program they came from. Any other binary goes to the driver.
cl_program hookCreateProgramWithBinary(cl_context Context, cl_uint NumDevices,
                                       const cl_device_id *Devices, const size_t *Lengths,
                                       const unsigned char **Binaries, cl_int *BinaryStatus,
                                       cl_int *ErrcodeRet) {
  std::vector<cl_device_id> ContextDevices;
  cl_program_binary_type Type = CL_PROGRAM_BINARY_TYPE_NONE;
  std::string Bitcode;
  bool Ours = contextTranslatesSpirv(Context, &ContextDevices) && NumDevices > 0 && Devices &&
              Lengths && Binaries;
  for (cl_uint I = 0; Ours && I < NumDevices; ++I) {
    cl_program_binary_type ThisType = CL_PROGRAM_BINARY_TYPE_NONE;
    std::string ThisBitcode;
    Ours = readLayerBinary(Binaries[I], Lengths[I], ThisType, ThisBitcode) &&
           (I == 0 || (ThisType == Type && ThisBitcode == Bitcode));
    Type = ThisType;
    Bitcode = std::move(ThisBitcode);
  }
  if (!Ours)
    return gNext.clCreateProgramWithBinary(Context, NumDevices, Devices, Lengths, Binaries,
                                           BinaryStatus, ErrcodeRet);
  cl_int Error = devicesValid(NumDevices, Devices, ContextDevices) ? CL_SUCCESS : CL_INVALID_DEVICE;
  std::string Log; // a binary is accepted or refused whole: there is no program to hold a log
  if (Error == CL_SUCCESS && !bitcodeIsSound(Bitcode, Log))
    Error = CL_INVALID_BINARY;
  cl_program Program = Error == CL_SUCCESS ? makePlaceholder(Context, Error) : nullptr;
  if (Program) {
    auto Record = std::make_unique<ProgramRecord>();
    Record->Context = Context;
    Record->Devices.assign(Devices, Devices + NumDevices);
    Record->Bitcode = std::move(Bitcode);
    Record->BinaryType = Type;
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    addProgram(Program, std::move(Record));
  }
  for (cl_uint I = 0; BinaryStatus && I < NumDevices; ++I)
    BinaryStatus[I] = Error == CL_INVALID_BINARY ? CL_INVALID_BINARY : CL_SUCCESS;
  if (ErrcodeRet)
    *ErrcodeRet = Error;
  return Program;
}

cl_int hookCompileProgram(cl_program Program, cl_uint NumDevices,
                                      const cl_device_id *Devices, const char *Options,
                                      cl_uint NumHeaders, const cl_program *Headers,
                                      const char **HeaderNames, NotifyFn Notify, void *UserData) {
  // The driver's own compile may run the callback, which may query the program: no lock held.
  if (!ownedProgram(Program))
    return gNext.clCompileProgram(Program, NumDevices, Devices, Options, NumHeaders, Headers,
                                  HeaderNames, Notify, UserData);
  ProgramRecord Inputs;
  cl_int Error = beginWork(Program, NumDevices, Devices, true, Inputs);
  if (Error != CL_SUCCESS)
    return Error;
  ModuleResult Module = translateSpirv(Inputs.Spirv, Inputs.SpecConstants);
  ExecutableBuild Old =
      finishWork(Program, Module.Ok, CL_PROGRAM_BINARY_TYPE_COMPILED_OBJECT,
                 std::move(Module.Bitcode), {}, Options, std::move(Module.Log));
  releaseExecutable(Inputs.Context, Inputs.Devices.front(), Old);
  if (Notify)
    Notify(Program, UserData);
  return Module.Ok ? CL_SUCCESS : CL_COMPILE_PROGRAM_FAILURE;
}

cl_int hookBuildProgram(cl_program Program, cl_uint NumDevices,
                                    const cl_device_id *Devices, const char *Options,
                                    NotifyFn Notify, void *UserData) {
  if (!ownedProgram(Program))
    return gNext.clBuildProgram(Program, NumDevices, Devices, Options, Notify, UserData);
  ProgramRecord Inputs;
  cl_int Error = beginWork(Program, NumDevices, Devices, false, Inputs);
  if (Error != CL_SUCCESS)
    return Error;
  std::string Log;
  std::string Bitcode = Inputs.Bitcode;
  bool Ok = true;
  if (!Inputs.Spirv.empty()) {
    ModuleResult Module = translateSpirv(Inputs.Spirv, Inputs.SpecConstants);
    Log += Module.Log;
    Ok = Module.Ok;
    Bitcode = std::move(Module.Bitcode);
  }
  ExecutableBuild Built;
  if (Ok)
    Ok = buildExecutable(Inputs.Context, Inputs.Devices, Bitcode, Options ? Options : "", Built,
                         Log) == CL_SUCCESS;
  ExecutableBuild Old = finishWork(Program, Ok, CL_PROGRAM_BINARY_TYPE_EXECUTABLE,
                                   std::move(Bitcode), std::move(Built), Options, std::move(Log));
  releaseExecutable(Inputs.Context, Inputs.Devices.front(), Old);
  if (Notify)
    Notify(Program, UserData);
  return Ok ? CL_SUCCESS : CL_BUILD_PROGRAM_FAILURE;
}

bool hasWord(const char *Options, const char *Word) {
  return Options && extensionListHas(Options, Word);
}

cl_program hookLinkProgram(cl_context Context, cl_uint NumDevices,
                                       const cl_device_id *Devices, const char *Options,
                                       cl_uint NumInputs, const cl_program *Inputs,
                                       NotifyFn Notify, void *UserData, cl_int *ErrcodeRet) {
  auto Fail = [ErrcodeRet](cl_int Error) -> cl_program {
    if (ErrcodeRet)
      *ErrcodeRet = Error;
    return nullptr;
  };
  std::vector<std::string> Bitcodes;
  size_t Owned = 0;
  for (cl_uint I = 0; Inputs && I < NumInputs; ++I)
    Owned += ownedProgram(Inputs[I]);
  if (Owned == 0)
    return gNext.clLinkProgram(Context, NumDevices, Devices, Options, NumInputs, Inputs, Notify,
                               UserData, ErrcodeRet);
  {
    LayerState &State = layerState();
    std::lock_guard<std::shared_mutex> Guard(State.Lock);
    if ((NumDevices == 0) != (Devices == nullptr))
      return Fail(CL_INVALID_VALUE);
    if (Owned != NumInputs)
      return Fail(CL_INVALID_OPERATION); // driver programs cannot join a layer link
    for (cl_uint I = 0; I < NumInputs; ++I) {
      ProgramRecord *Input = findProgram(Inputs[I]);
      bool Linkable = Input->BinaryType == CL_PROGRAM_BINARY_TYPE_COMPILED_OBJECT ||
                      Input->BinaryType == CL_PROGRAM_BINARY_TYPE_LIBRARY;
      if (Input->Context != Context)
        return Fail(CL_INVALID_CONTEXT);
      // A compiled object or library made from a binary links without a build of its own.
      if (Input->Busy || Input->Status == CL_BUILD_ERROR || !Linkable)
        return Fail(CL_INVALID_OPERATION);
      Bitcodes.push_back(Input->Bitcode);
    }
  }
  std::vector<cl_device_id> All;
  if (!contextTranslatesSpirv(Context, &All))
    return Fail(CL_INVALID_CONTEXT);
  if (!devicesValid(NumDevices, Devices, All))
    return Fail(CL_INVALID_DEVICE);
  cl_int Error = CL_SUCCESS;
  cl_program Program = makePlaceholder(Context, Error);
  if (!Program)
    return Fail(Error);
  auto Record = std::make_unique<ProgramRecord>();
  Record->Context = Context;
  Record->Devices = chosenDevices(NumDevices, Devices, All);
  Record->Busy = true;
  std::vector<cl_device_id> Targets = Record->Devices;
  {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    addProgram(Program, std::move(Record));
  }
  adoptChild(Context);
  ModuleResult Linked = linkModules(Bitcodes);
  std::string Log = Linked.Log;
  bool Ok = Linked.Ok;
  bool Library = hasWord(Options, "-create-library");
  ExecutableBuild Built;
  if (Ok && !Library)
    Ok = buildExecutable(Context, Targets, Linked.Bitcode, Options ? Options : "", Built, Log) ==
         CL_SUCCESS;
  finishWork(Program, Ok,
             Library ? CL_PROGRAM_BINARY_TYPE_LIBRARY : CL_PROGRAM_BINARY_TYPE_EXECUTABLE,
             std::move(Linked.Bitcode), std::move(Built), Options, std::move(Log));
  if (Notify)
    Notify(Program, UserData);
  // A failed link still gives a program, so that its log can be read.
  if (ErrcodeRet)
    *ErrcodeRet = Ok ? CL_SUCCESS : CL_LINK_PROGRAM_FAILURE;
  return Program;
}

cl_int hookRetainProgram(cl_program Program) {
  cl_int Error = gNext.clRetainProgram(Program);
  if (Error == CL_SUCCESS) {
    LayerState &State = layerState();
    std::lock_guard<std::shared_mutex> Guard(State.Lock);
    if (ProgramRecord *Record = findProgram(Program))
      ++Record->RefCount;
  }
  return Error;
}

cl_int hookReleaseProgram(cl_program Program) {
  std::unique_ptr<ProgramRecord> Dead;
  {
    LayerState &State = layerState();
    std::lock_guard<std::shared_mutex> Guard(State.Lock);
    ProgramRecord *Record = findProgram(Program);
    if (Record && --Record->RefCount == 0)
      Dead = removeProgram(Program);
  }
  if (Dead) {
    releaseExecutable(Dead->Context, Dead->Devices.front(), Dead->Built);
    dropChild(Dead->Context);
  }
  return gNext.clReleaseProgram(Program);
}

std::string kernelNames(const ProgramRecord &Record) {
  std::string Names;
  for (const KernelDesc &Kernel : Record.Built.Kernels)
    Names += (Names.empty() ? "" : ";") + Kernel.Name;
  return Names;
}

cl_int hookGetProgramInfo(cl_program Program, cl_program_info Param, size_t Size,
                                      void *Value, size_t *SizeRet) {
  LayerState &State = layerState();
  std::unique_lock<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(Program);
  if (!Record) {
    Guard.unlock();
    return gNext.clGetProgramInfo(Program, Param, Size, Value, SizeRet);
  }
  bool Executable = Record->Built.Executable != nullptr;
  switch (Param) {
  case CL_PROGRAM_REFERENCE_COUNT:
    return answerValue(Size, Value, SizeRet, Record->RefCount);
  case CL_PROGRAM_NUM_DEVICES:
    return answerValue(Size, Value, SizeRet, static_cast<cl_uint>(Record->Devices.size()));
  case CL_PROGRAM_DEVICES:
    return answerBytes(Size, Value, SizeRet, Record->Devices.data(),
                       Record->Devices.size() * sizeof(cl_device_id));
  case CL_PROGRAM_SOURCE:
    return answerText(Size, Value, SizeRet, std::string());
  case CL_PROGRAM_IL:
    return answerBytes(Size, Value, SizeRet, Record->Spirv.data(), Record->Spirv.size());
  case CL_PROGRAM_NUM_KERNELS:
    if (!Executable)
      return CL_INVALID_PROGRAM_EXECUTABLE;
    return answerValue(Size, Value, SizeRet, Record->Built.Kernels.size());
  case CL_PROGRAM_KERNEL_NAMES:
    if (!Executable)
      return CL_INVALID_PROGRAM_EXECUTABLE;
    return answerText(Size, Value, SizeRet, kernelNames(*Record));
  case CL_PROGRAM_BINARY_SIZES: {
    size_t Length = Record->Bitcode.empty()
                        ? 0
                        : layerBinary(Record->BinaryType, Record->Bitcode).size();
    std::vector<size_t> Sizes(Record->Devices.size(), Length);
    return answerBytes(Size, Value, SizeRet, Sizes.data(), Sizes.size() * sizeof(size_t));
  }
  case CL_PROGRAM_BINARIES: {
    size_t Bytes = Record->Devices.size() * sizeof(unsigned char *);
    if (Value && !Record->Bitcode.empty()) {
      if (Size < Bytes)
        return CL_INVALID_VALUE;
      std::string Binary = layerBinary(Record->BinaryType, Record->Bitcode);
      auto Targets = static_cast<unsigned char **>(Value);
      for (size_t I = 0; I < Record->Devices.size(); ++I)
        if (Targets[I])
          std::memcpy(Targets[I], Binary.data(), Binary.size());
    } else if (Value && Size < Bytes) {
      return CL_INVALID_VALUE;
    }
    if (SizeRet)
      *SizeRet = Bytes;
    return CL_SUCCESS;
  }
  case CL_PROGRAM_SCOPE_GLOBAL_CTORS_PRESENT:
  case CL_PROGRAM_SCOPE_GLOBAL_DTORS_PRESENT:
    return answerValue(Size, Value, SizeRet, cl_bool(CL_FALSE));
  default:
    Guard.unlock();
    return gNext.clGetProgramInfo(Program, Param, Size, Value, SizeRet);
  }
}

cl_int hookGetProgramBuildInfo(cl_program Program, cl_device_id Device,
                                           cl_program_build_info Param, size_t Size, void *Value,
                                           size_t *SizeRet) {
  LayerState &State = layerState();
  std::unique_lock<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(Program);
  if (!Record) {
    Guard.unlock();
    return gNext.clGetProgramBuildInfo(Program, Device, Param, Size, Value, SizeRet);
  }
  if (std::find(Record->Devices.begin(), Record->Devices.end(), Device) == Record->Devices.end())
    return CL_INVALID_DEVICE;
  switch (Param) {
  case CL_PROGRAM_BUILD_STATUS:
    return answerValue(Size, Value, SizeRet, Record->Busy ? CL_BUILD_IN_PROGRESS : Record->Status);
  case CL_PROGRAM_BUILD_OPTIONS:
    return answerText(Size, Value, SizeRet, Record->Options);
  case CL_PROGRAM_BUILD_LOG:
    return answerText(Size, Value, SizeRet, Record->Log);
  case CL_PROGRAM_BINARY_TYPE:
    return answerValue(Size, Value, SizeRet, Record->BinaryType);
  case CL_PROGRAM_BUILD_GLOBAL_VARIABLE_TOTAL_SIZE:
    return answerValue(Size, Value, SizeRet, Record->Built.GlobalsSize);
  default:
    return CL_INVALID_VALUE;
  }
}

cl_int hookSetProgramSpecializationConstant(cl_program Program, cl_uint SpecId,
                                                        size_t SpecSize, const void *SpecValue) {
  if (!ownedProgram(Program))
    return gNext.clSetProgramSpecializationConstant(Program, SpecId, SpecSize, SpecValue);
  std::vector<char> Spirv;
  {
    LayerState &State = layerState();
    std::lock_guard<std::shared_mutex> Guard(State.Lock);
    ProgramRecord *Record = findProgram(Program);
    if (!Record || Record->Spirv.empty())
      return CL_INVALID_PROGRAM;
    Spirv = Record->Spirv;
  }
  std::map<cl_uint, size_t> Sizes;
  if (!readSpecConstantSizes(Spirv, Sizes) || !Sizes.count(SpecId))
    return CL_INVALID_SPEC_ID;
  if (!SpecValue || SpecSize != Sizes[SpecId] || SpecSize > sizeof(uint64_t))
    return CL_INVALID_VALUE;
  uint64_t Bits = 0;
  std::memcpy(&Bits, SpecValue, SpecSize);
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  if (ProgramRecord *Record = findProgram(Program))
    Record->SpecConstants[SpecId] = Bits;
  return CL_SUCCESS;
}

} // namespace

void detachKernel(cl_program Program) {
  {
    LayerState &State = layerState();
    std::lock_guard<std::shared_mutex> Guard(State.Lock);
    if (ProgramRecord *Record = findProgram(Program))
      --Record->AttachedKernels;
  }
  hookReleaseProgram(Program);
}

extern "C" cl_int CL_API_CALL layerSetProgramSpecializationConstant(cl_program program,
                                                                    cl_uint spec_id,
                                                                    size_t spec_size,
                                                                    const void *spec_value) {
  if (!program)
    return CL_INVALID_PROGRAM;
  return hookSetProgramSpecializationConstant(program, spec_id, spec_size, spec_value);
}

extern "C" cl_int CL_API_CALL layerGetDeviceGlobalVariablePointer(cl_device_id device,
                                                                  cl_program program,
                                                                  const char *name, size_t *size,
                                                                  void **ptr) {
  if (!program)
    return CL_INVALID_PROGRAM;
  if (!name || !ptr)
    return CL_INVALID_VALUE;
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(program);
  if (!Record)
    return CL_INVALID_PROGRAM;
  if (device && std::find(Record->Devices.begin(), Record->Devices.end(), device) ==
                    Record->Devices.end())
    return CL_INVALID_DEVICE;
  if (!Record->Built.Executable)
    return CL_INVALID_PROGRAM_EXECUTABLE;
  for (const GlobalSlot &Slot : Record->Built.Globals)
    if (Slot.Name == name) {
      *ptr = static_cast<char *>(Record->Built.GlobalsBlock) + Slot.Offset;
      if (size)
        *size = Slot.Size;
      return CL_SUCCESS;
    }
  return CL_INVALID_ARG_VALUE;
}

void installProgramHooks(cl_icd_dispatch &Table) {
  Table.clCreateProgramWithIL = guarded<hookCreateProgramWithIL>;
  Table.clCreateProgramWithBinary = guarded<hookCreateProgramWithBinary>;
  Table.clCompileProgram = guarded<hookCompileProgram>;
  Table.clBuildProgram = guarded<hookBuildProgram>;
  Table.clLinkProgram = guarded<hookLinkProgram>;
  Table.clRetainProgram = guarded<hookRetainProgram>;
  Table.clReleaseProgram = guarded<hookReleaseProgram>;
  Table.clGetProgramInfo = guarded<hookGetProgramInfo>;
  Table.clGetProgramBuildInfo = guarded<hookGetProgramBuildInfo>;
  Table.clSetProgramSpecializationConstant = guarded<hookSetProgramSpecializationConstant>;
}
