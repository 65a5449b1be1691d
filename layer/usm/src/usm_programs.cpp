// Programs count as children of their context: its allocations outlive the application's last
// context reference while a program may still make kernels that use them.
#include "exception_barrier.h"
#include "usm_state.h"

#include <mutex>

namespace {

using ProgramNotify = void(CL_CALLBACK *)(cl_program, void *);

cl_program track(cl_program Program, cl_context Context) {
  if (!Program)
    return nullptr;
  {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    usmState().Programs[Program] = ProgramCount{1, Context};
  }
  adoptChild(Context);
  return Program;
}

cl_program hookCreateProgramWithSource(cl_context Context, cl_uint Count, const char **Strings,
                                       const size_t *Lengths, cl_int *ErrcodeRet) {
  return track(gNext.clCreateProgramWithSource(Context, Count, Strings, Lengths, ErrcodeRet),
               Context);
}

cl_program hookCreateProgramWithBinary(cl_context Context, cl_uint NumDevices,
                                       const cl_device_id *Devices, const size_t *Lengths,
                                       const unsigned char **Binaries, cl_int *BinaryStatus,
                                       cl_int *ErrcodeRet) {
  return track(gNext.clCreateProgramWithBinary(Context, NumDevices, Devices, Lengths, Binaries,
                                               BinaryStatus, ErrcodeRet),
               Context);
}

cl_program hookCreateProgramWithIL(cl_context Context, const void *Il, size_t Length,
                                   cl_int *ErrcodeRet) {
  return track(gNext.clCreateProgramWithIL(Context, Il, Length, ErrcodeRet), Context);
}

cl_program hookCreateProgramWithBuiltInKernels(cl_context Context, cl_uint NumDevices,
                                               const cl_device_id *Devices, const char *Names,
                                               cl_int *ErrcodeRet) {
  return track(
      gNext.clCreateProgramWithBuiltInKernels(Context, NumDevices, Devices, Names, ErrcodeRet),
      Context);
}

cl_program hookLinkProgram(cl_context Context, cl_uint NumDevices, const cl_device_id *Devices,
                           const char *Options, cl_uint NumInputs, const cl_program *Inputs,
                           ProgramNotify Notify, void *UserData, cl_int *ErrcodeRet) {
  return track(gNext.clLinkProgram(Context, NumDevices, Devices, Options, NumInputs, Inputs,
                                   Notify, UserData, ErrcodeRet),
               Context);
}

cl_int hookRetainProgram(cl_program Program) {
  cl_int Error = gNext.clRetainProgram(Program);
  if (Error == CL_SUCCESS) {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    auto It = usmState().Programs.find(Program);
    if (It != usmState().Programs.end())
      ++It->second.RefCount;
  }
  return Error;
}

cl_int hookReleaseProgram(cl_program Program) {
  cl_context Gone = nullptr;
  {
    std::lock_guard<std::shared_mutex> Guard(layerState().Lock);
    auto It = usmState().Programs.find(Program);
    if (It != usmState().Programs.end() && --It->second.RefCount == 0) {
      Gone = It->second.Context;
      usmState().Programs.erase(It);
    }
  }
  if (Gone)
    dropChild(Gone);
  return gNext.clReleaseProgram(Program);
}

} // namespace

void installUsmProgramHooks(cl_icd_dispatch &Table) {
  Table.clCreateProgramWithSource = guarded<hookCreateProgramWithSource>;
  Table.clCreateProgramWithBinary = guarded<hookCreateProgramWithBinary>;
  Table.clCreateProgramWithIL = guarded<hookCreateProgramWithIL>;
  Table.clCreateProgramWithBuiltInKernels = guarded<hookCreateProgramWithBuiltInKernels>;
  Table.clLinkProgram = guarded<hookLinkProgram>;
  Table.clRetainProgram = guarded<hookRetainProgram>;
  Table.clReleaseProgram = guarded<hookReleaseProgram>;
}
