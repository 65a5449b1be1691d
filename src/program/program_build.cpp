// From an offload image to the final OpenCL program: program objects from the image (and the
// device libraries), then build, or compile and link.
#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "program/device_libraries.h"
#include "program/image_container.h"
#include "program/program.h"

#include <algorithm>

int32_t OpenCLProgramTy::createPrograms(std::string &CompileOptions, std::string &LinkOptions) {
  const char *Begin = static_cast<const char *>(ImageDesc->BytesBegin);
  const char *End = static_cast<const char *>(ImageDesc->BytesEnd);
  const size_t ImageSize = static_cast<size_t>(End - Begin);
  uint64_t Major = 0, Minor = 0;
  // Without a valid container the whole image is one SPIR-V module.
  if (!getImageVersion(Begin, End, Major, Minor))
    return addProgramIL(ImageSize, Begin);

  ImageContainer Container;
  readImageContainer(Begin, ImageSize, Container);
  // No index past the largest one with a record can produce a program, so the walk ends there
  // rather than warning its way through an absurd image count.
  uint64_t LastUsable = 0;
  for (const auto &Entry : Container.Aux)
    LastUsable = std::max(LastUsable, Entry.first);
  for (uint64_t Idx = 0; Idx < Container.ImageCount && Idx <= LastUsable; ++Idx) {
    auto It = Container.Aux.find(Idx);
    if (It == Container.Aux.end()) {
      DP("Warning: image %llu without auxiliary information is ingored.\n",
         static_cast<unsigned long long>(Idx));
      continue;
    }
    const ImageAuxInfo &Aux = It->second;
    int32_t Rc;
    if (Aux.Format == ImageFormatSPIRV) {
      Rc = addProgramIL(Aux.Size, Aux.Contents);
    } else if (Aux.Format == ImageFormatNative) {
      Rc = addProgramBIN(Aux.Size, Aux.Contents);
    } else {
      DP("Warning: image %lluis ignored due to unknown format.\n",
         static_cast<unsigned long long>(Idx));
      continue;
    }
    if (Rc != 0)
      continue;
    DP("Created offload program from image #%llu.\n", static_cast<unsigned long long>(Idx));
    if (DeviceInfo->Option.Flags & OptionFlagImageOptions) {
      CompileOptions += " " + Aux.CompileOptions;
      LinkOptions += " " + Aux.LinkOptions;
    }
    return 0;
  }
  return -1;
}

int32_t OpenCLProgramTy::addProgramIL(size_t Size, const void *Image) {
  cl_int Rc = CL_SUCCESS;
  cl_program Program = CL_INVOKE_RC(clCreateProgramWithIL, Rc, Context, Image, Size);
  CL_CHECK_RC("addProgramIL", clCreateProgramWithIL, Rc);
  if (Rc != CL_SUCCESS || (DeviceInfo->Option.Flags & OptionFlagShowBuildLog))
    debugPrintBuildLog(Program, Device);
  if (Rc != CL_SUCCESS) {
    DP("Error: Failed to create program from SPIR-V: %d\n", Rc);
    return -1;
  }
  applySpecConstants(DeviceId, Program);
  Programs.push_back(Program);
  IsBinary = false;
  if (Programs.size() == 1 && (DeviceInfo->Option.Flags & OptionFlagLinkLibDevice))
    addDeviceLibraries(DeviceId, Programs);
  return 0;
}

int32_t OpenCLProgramTy::addProgramBIN(size_t Size, const void *Bytes) {
  const unsigned char *Image = static_cast<const unsigned char *>(Bytes);
  cl_int Rc = CL_SUCCESS;
  cl_program Program =
      CL_INVOKE_RC(clCreateProgramWithBinary, Rc, Context, 1, &Device, &Size, &Image, nullptr);
  CL_CHECK_RC("addProgramBIN", clCreateProgramWithBinary, Rc);
  if (Rc != CL_SUCCESS || (DeviceInfo->Option.Flags & OptionFlagShowBuildLog))
    debugPrintBuildLog(Program, Device);
  if (Rc != CL_SUCCESS) {
    DP("Error: Failed to create program from binary: %d\n", Rc);
    return -1;
  }
  applySpecConstants(DeviceId, Program);
  Programs.push_back(Program);
  IsBinary = true;
  return 0;
}

int32_t OpenCLProgramTy::compilePrograms(std::string &CompOptions, std::string &LinkOptions) {
  const bool ShowLog = DeviceInfo->Option.Flags & OptionFlagShowBuildLog;
  bool Build;
  if (IsBinary) {
    if (Programs.size() > 1) {
      DP("Skipping compilation for multiple binary images.\n");
      RequiresProgramLink = true;
      return 0;
    }
    Build = true;
  } else {
    // A single module is built in one step when SIMD code generation is asked for, since that
    // code generator does not take separately compiled objects.
    Build = Programs.size() == 1 && ((DeviceInfo->Option.Flags & OptionFlagSIMD) ||
                                     CompOptions.find(" -vc-codegen ") != std::string::npos);
  }

  if (Build) {
    std::string BuildOptions = CompOptions + " " + LinkOptions;
    cl_int Rc = CL_CALL("compilePrograms", clBuildProgram, Programs[0], 0, nullptr,
                        BuildOptions.c_str(), nullptr, nullptr);
    if (Rc != CL_SUCCESS || ShowLog)
      debugPrintBuildLog(Programs[0], Device);
    if (Rc != CL_SUCCESS) {
      DP("Error: Failed to build program: %d\n", Rc);
      return -1;
    }
    RequiresProgramLink = false;
    return 0;
  }

  for (cl_program PGM : Programs) {
    cl_int Rc = CL_CALL("compilePrograms", clCompileProgram, PGM, 0, nullptr,
                        CompOptions.c_str(), 0, nullptr, nullptr, nullptr, nullptr);
    if (Rc != CL_SUCCESS) {
      debugPrintBuildLog(PGM, Device);
      DP("Error: Failed to compile program: %d\n", Rc);
      return -1;
    }
    if (ShowLog)
      debugPrintBuildLog(PGM, Device);
  }
  RequiresProgramLink = true;
  return 0;
}

int32_t OpenCLProgramTy::linkPrograms(std::string &LinkOptions) {
  if (!RequiresProgramLink) {
    FinalProgram = Programs[0];
    DP("Program linking is not required.\n");
    return 0;
  }
  cl_int Rc = CL_SUCCESS;
  FinalProgram = CL_INVOKE_RC(clLinkProgram, Rc, Context, 1, &Device, LinkOptions.c_str(),
                              Programs.size(), Programs.data(), nullptr, nullptr);
  CL_CHECK_RC("linkPrograms", clLinkProgram, Rc);
  // A failed link may still return a program, whose log says why.
  if (Rc != CL_SUCCESS || (DeviceInfo->Option.Flags & OptionFlagShowBuildLog))
    debugPrintBuildLog(FinalProgram, Device);
  if (Rc != CL_SUCCESS) {
    DP("Error: Failed to link program: %d\n", Rc);
    return -1;
  }
  DP("Successfully linked %zu programs.\n", Programs.size());
  return 0;
}
