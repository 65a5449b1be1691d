#include "program_build.h"

#include "device_caps.h"
#include "layer_state.h"

#include <set>
#include <sstream>

namespace {

// Options that still mean something once the source language is gone.
const std::set<std::string> &passedOptions() {
  static const auto *Options = new std::set<std::string>{ // used until the process ends
      "-g", "-cl-opt-disable", "-cl-mad-enable", "-cl-no-signed-zeros",
      "-cl-unsafe-math-optimizations", "-cl-finite-math-only", "-cl-fast-relaxed-math",
      "-cl-denorms-are-zero", "-cl-single-precision-constant",
      "-cl-fp32-correctly-rounded-divide-sqrt", "-cl-uniform-work-group-size"};
  return *Options;
}

std::string driverLog(cl_program Program, cl_device_id Device) {
  size_t Size = 0;
  if (gNext.clGetProgramBuildInfo(Program, Device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &Size) !=
          CL_SUCCESS ||
      Size <= 1)
    return std::string();
  std::string Text(Size, '\0');
  if (gNext.clGetProgramBuildInfo(Program, Device, CL_PROGRAM_BUILD_LOG, Size, Text.data(),
                                  nullptr) != CL_SUCCESS)
    return std::string();
  Text.resize(Text.find('\0') == std::string::npos ? Text.size() : Text.find('\0'));
  return Text;
}

void *allocateGlobals(cl_context Context, size_t Size, size_t Align) {
  // Alignments the driver refuses fall back to its default, which suits every scalar type.
  return gNext.clSVMAlloc(Context, CL_MEM_READ_WRITE, Size,
                          Align <= 128 ? static_cast<cl_uint>(Align) : 0);
}

bool allDevicesAreCpus(const std::vector<cl_device_id> &Devices) {
  for (cl_device_id Device : Devices) {
    DeviceCaps Caps;
    if (deviceCaps(Device, Caps) != CL_SUCCESS || !(Caps.Type & CL_DEVICE_TYPE_CPU))
      return false;
  }
  return !Devices.empty();
}

// Writes the initial contents through a private queue, so coarse-grained memory works too.
cl_int initialiseGlobals(cl_context Context, cl_device_id Device, const ExecutableModule &Module,
                         std::string &Log) {
  cl_int Error = CL_SUCCESS;
  cl_command_queue Queue = gNext.clCreateCommandQueueWithProperties(Context, Device, nullptr, &Error);
  if (!Queue) {
    Log += "error: cannot create a queue to initialise global variables\n";
    return Error;
  }
  Error = gNext.clEnqueueSVMMemcpy(Queue, CL_TRUE, Module.Block, Module.BlockImage.data(),
                                   Module.BlockSize, 0, nullptr, nullptr);
  if (Error != CL_SUCCESS)
    Log += "error: cannot write the initial values of global variables\n";
  gNext.clReleaseCommandQueue(Queue);
  return Error;
}

} // namespace

std::string driverBuildOptions(const std::string &Options, std::string &Log) {
  std::istringstream Words(Options);
  std::string Word, Passed;
  while (Words >> Word) {
    if (passedOptions().count(Word)) {
      Passed += (Passed.empty() ? "" : " ") + Word;
    } else {
      Log += "note: build option '" + Word + "' does not apply to a translated program\n";
    }
  }
  return Passed;
}

cl_int buildExecutable(cl_context Context, const std::vector<cl_device_id> &Devices,
                       const std::string &Bitcode, const std::string &Options,
                       ExecutableBuild &Result, std::string &Log) {
  ExecutableModule Module =
      finalizeModule(Bitcode, allDevicesAreCpus(Devices), [Context](size_t Size, size_t Align) {
        return allocateGlobals(Context, Size, Align);
      });
  Log += Module.Log;
  auto Fail = [&](cl_int Error) {
    if (Module.Block)
      gNext.clSVMFree(Context, Module.Block);
    return Error;
  };
  if (!Module.Ok)
    return Fail(CL_BUILD_PROGRAM_FAILURE);

  std::vector<size_t> Lengths(Devices.size(), Module.Bitcode.size());
  std::vector<const unsigned char *> Binaries(
      Devices.size(), reinterpret_cast<const unsigned char *>(Module.Bitcode.data()));
  cl_int Error = CL_SUCCESS;
  cl_program Executable =
      gNext.clCreateProgramWithBinary(Context, static_cast<cl_uint>(Devices.size()),
                                      Devices.data(), Lengths.data(), Binaries.data(), nullptr,
                                      &Error);
  if (!Executable) {
    Log += "error: the driver refused the translated program (" + std::to_string(Error) + ")\n";
    return Fail(CL_BUILD_PROGRAM_FAILURE);
  }
  std::string Passed = driverBuildOptions(Options, Log);
  Error = gNext.clBuildProgram(Executable, static_cast<cl_uint>(Devices.size()), Devices.data(),
                               Passed.c_str(), nullptr, nullptr);
  Log += driverLog(Executable, Devices.front());
  if (Error == CL_SUCCESS && Module.Block)
    Error = initialiseGlobals(Context, Devices.front(), Module, Log);
  if (Error != CL_SUCCESS) {
    gNext.clReleaseProgram(Executable);
    return Fail(CL_BUILD_PROGRAM_FAILURE);
  }
  // The block is freed through the context, which the application may release first.
  if (Module.Block && (Error = gNext.clRetainContext(Context)) != CL_SUCCESS) {
    Log += "error: cannot keep the context of the global variables (" + std::to_string(Error) +
           ")\n";
    gNext.clReleaseProgram(Executable);
    return Fail(CL_BUILD_PROGRAM_FAILURE);
  }
  Result.Executable = Executable;
  Result.GlobalsBlock = Module.Block;
  Result.GlobalsSize = Module.BlockSize;
  Result.Globals = std::move(Module.Globals);
  Result.Kernels = std::move(Module.Kernels);
  Result.GlobalsByParameter = Module.GlobalsByParameter;
  return CL_SUCCESS;
}

void releaseExecutable(cl_context Context, cl_device_id Device, ExecutableBuild &Build) {
  if (Build.Executable)
    gNext.clReleaseProgram(Build.Executable);
  if (Build.GlobalsBlock) {
    freeAfterQueuedWork(Context, Device, {Build.GlobalsBlock});
    gNext.clReleaseContext(Context);
  }
  Build = ExecutableBuild();
}
