// The program object of one offload image on one device. It lives in the device's program list
// from its load until shutdown and owns its OpenCL programs and kernels.
#ifndef PROGRAM_PROGRAM_H
#define PROGRAM_PROGRAM_H

#include "frame/opencl.h"

#include <cstdint>
#include <vector>

struct OpenCLProgramTy {
  int32_t DeviceId = -1;
  std::vector<cl_program> Programs; // programs made from the image and the device libraries
  cl_program FinalProgram = nullptr;
  std::vector<cl_kernel> Kernels;

  explicit OpenCLProgramTy(int32_t Device) : DeviceId(Device) {}
  OpenCLProgramTy(const OpenCLProgramTy &) = delete;
  OpenCLProgramTy &operator=(const OpenCLProgramTy &) = delete;
};

#endif
