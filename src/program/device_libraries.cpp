#include "program/device_libraries.h"

#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "program/program.h"

#include <cstdio>
#include <dlfcn.h>

std::string pluginDirectory(bool &Found) {
  Dl_info Info;
  Found = dladdr(reinterpret_cast<void *>(&pluginDirectory), &Info) != 0 && Info.dli_fname;
  if (!Found)
    return std::string();
  std::string Name = Info.dli_fname;
  size_t Cut = Name.find_last_of("/\\");
  return Cut == std::string::npos ? std::string() : Name.substr(0, Cut + 1);
}

// The whole file, or false when it cannot be read.
static bool readFile(std::FILE *File, std::string &Bytes) {
  if (std::fseek(File, 0, SEEK_END) != 0)
    return false;
  long Size = std::ftell(File);
  if (Size < 0 || std::fseek(File, 0, SEEK_SET) != 0)
    return false;
  Bytes.resize(static_cast<size_t>(Size));
  return std::fread(&Bytes[0], 1, Bytes.size(), File) == Bytes.size();
}

// A program from one library file, or null.
static cl_program createLibraryProgram(int32_t DeviceId, const std::string &Path) {
  std::FILE *File = std::fopen(Path.c_str(), "rb");
  if (!File) {
    DP("Cannot find device RTL: %s\n", Path.c_str());
    return nullptr;
  }
  DP("Found device RTL: %s\n", Path.c_str());
  std::string RTL;
  bool Read = readFile(File, RTL);
  std::fclose(File);
  if (!Read) {
    DP("I/O Error: Failed to read device RTL.\n");
    return nullptr;
  }
  size_t RTLSize = RTL.size();
  cl_int Rc = CL_SUCCESS;
  cl_program Program = CL_INVOKE_RC(clCreateProgramWithIL, Rc,
                                    DeviceInfo->getContext(DeviceId), RTL.c_str(), RTLSize);
  if (CL_CHECK_RC("createProgramFromFile", clCreateProgramWithIL, Rc) != CL_SUCCESS) {
    DP("Error: Failed to create device RTL from IL: %d\n", Rc);
    return nullptr;
  }
  applySpecConstants(DeviceId, Program);
  return Program;
}

void addDeviceLibraries(int32_t DeviceId, std::vector<cl_program> &Programs) {
  bool Found = false;
  const std::string Directory = pluginDirectory(Found);
  for (const LibdeviceExtensionTy &Lib : DeviceInfo->Extensions[DeviceId].LibdeviceExtensions) {
    if (Lib.Status == ExtensionSupported) {
      DP("Fallback libdevice RTL %s is not required.\n", Lib.FallbackLibrary);
      continue;
    }
    const std::string Path = Found ? Directory + Lib.FallbackLibrary : std::string();
    if (cl_program Program = createLibraryProgram(DeviceId, Path)) {
      DP("Added fallback libdevice RTL %s.\n", Lib.FallbackLibrary);
      Programs.push_back(Program);
    } else {
      DP("Cannot add fallback libdeice RTL %s.\n", Lib.FallbackLibrary);
    }
  }
}
