#include "program_registry.h"

#include "layer_state.h"

#include <cstring>

namespace {

std::map<cl_program, std::unique_ptr<ProgramRecord>> &programs() {
  static auto *Programs = new std::map<cl_program, std::unique_ptr<ProgramRecord>>();
  return *Programs;
}

} // namespace

ProgramRecord *findProgram(cl_program Program) {
  auto It = programs().find(Program);
  return It == programs().end() ? nullptr : It->second.get();
}

void addProgram(cl_program Program, std::unique_ptr<ProgramRecord> Record) {
  programs()[Program] = std::move(Record);
}

bool contextHasGlobals(cl_context Context) {
  for (auto &[Program, Record] : programs())
    if (Record->Context == Context && Record->Built.GlobalsBlock)
      return true;
  return false;
}

std::unique_ptr<ProgramRecord> removeProgram(cl_program Program) {
  auto It = programs().find(Program);
  if (It == programs().end())
    return nullptr;
  std::unique_ptr<ProgramRecord> Record = std::move(It->second);
  programs().erase(It);
  return Record;
}

cl_int kernelSourceProgram(cl_program Program, cl_program &Source, bool &Owned) {
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(Program);
  Owned = Record != nullptr;
  Source = Program;
  if (!Record)
    return CL_SUCCESS;
  if (!Record->Built.Executable || Record->Busy)
    return CL_INVALID_PROGRAM_EXECUTABLE;
  Source = Record->Built.Executable;
  return CL_SUCCESS;
}

cl_int attachKernel(cl_program Program, const std::string &Name, KernelAttachment &Attachment) {
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(Program);
  Attachment = KernelAttachment();
  if (!Record)
    return CL_INVALID_PROGRAM;
  if (cl_int Error = gNext.clRetainProgram(Program))
    return Error;
  ++Record->AttachedKernels;
  ++Record->RefCount;
  Attachment.GlobalsBlock = Record->Built.GlobalsBlock;
  if (Record->Built.GlobalsByParameter)
    for (const KernelDesc &Kernel : Record->Built.Kernels)
      if (Kernel.Name == Name)
        Attachment.HiddenArgument = static_cast<cl_uint>(Kernel.Args.size()) + 1;
  return CL_SUCCESS;
}

bool ownedKernelDesc(cl_program Program, const std::string &Name, KernelDesc &Desc) {
  LayerState &State = layerState();
  std::lock_guard<std::shared_mutex> Guard(State.Lock);
  ProgramRecord *Record = findProgram(Program);
  if (!Record)
    return false;
  for (const KernelDesc &Kernel : Record->Built.Kernels)
    if (Kernel.Name == Name) {
      Desc = Kernel;
      return true;
    }
  return false;
}
