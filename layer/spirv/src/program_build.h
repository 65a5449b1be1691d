// From final bitcode to a driver program with its global variables in place.
#pragma once

#include "program_compiler.h"

struct ExecutableBuild {
  cl_program Executable = nullptr;
  void *GlobalsBlock = nullptr;
  size_t GlobalsSize = 0;
  std::vector<GlobalSlot> Globals;
  std::vector<KernelDesc> Kernels;
  bool GlobalsByParameter = false; // kernels take GlobalsBlock as a hidden last argument
};

// Builds Bitcode for Devices; the log of every step is appended to Log. On success the globals
// block holds a reference to the context until releaseExecutable.
cl_int buildExecutable(cl_context Context, const std::vector<cl_device_id> &Devices,
                       const std::string &Bitcode, const std::string &Options,
                       ExecutableBuild &Result, std::string &Log);

// Releases what buildExecutable made; the variables' block is freed after the work queued in the
// context so far, without waiting for it.
void releaseExecutable(cl_context Context, cl_device_id Device, ExecutableBuild &Build);

// The build options worth passing to the driver for a bitcode program.
std::string driverBuildOptions(const std::string &Options, std::string &Log);
