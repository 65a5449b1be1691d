// Creation and destruction of a program object.
#include "program/program.h"

#include "frame/cl_call.h"

#include <cstdlib>

OpenCLProgramTy::OpenCLProgramTy(DeviceImage *Image, cl_context Ctx, cl_device_id Dev, int32_t Id)
    : ImageDesc(Image), Context(Ctx), Device(Dev), DeviceId(Id), KernelInfo(8) {
  KernelInfo.max_load_factor(1.0f);
}

// Releases kernels, then the programs made from the image and the libraries, then the separately
// linked program. The first failed release stops the releases: the driver is in an unknown state
// and the remaining handles are left alone.
OpenCLProgramTy::~OpenCLProgramTy() {
  bool Failed = false;
  for (cl_kernel Kernel : Kernels)
    if (Kernel && !Failed)
      Failed = CL_CALL("~OpenCLProgramTy", clReleaseKernel, Kernel) != CL_SUCCESS;
  for (cl_program PGM : Programs)
    if (!Failed)
      Failed = CL_CALL("~OpenCLProgramTy", clReleaseProgram, PGM) != CL_SUCCESS;
  if (RequiresProgramLink && FinalProgram && !Failed)
    CL_CALL("~OpenCLProgramTy", clReleaseProgram, FinalProgram);
  freeOffloadTableNames(OffloadTable.size());
}

void OpenCLProgramTy::freeOffloadTableNames(size_t Count) {
  for (size_t I = 0; I < Count && I < OffloadTable.size(); ++I) {
    std::free(OffloadTable[I].Base.name);
    OffloadTable[I].Base.name = nullptr;
  }
}
