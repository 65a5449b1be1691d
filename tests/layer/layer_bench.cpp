// Measures, by hand, what the layer adds to a launch and to a program load on the real device:
//   layer_bench launch            empty-kernel launch with 10 and with 10000 live allocations
//   layer_bench load <files...>   compile each SPIR-V file, link them, twice in one process
// Run with the layer in OPENCL_LAYERS, as the layer tests are. Figures are medians.
#include "layer_test_env.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::time_point Start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - Start).count();
}

double median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

// Median enqueue-and-wait time of an empty kernel with indirect access to every kind of
// allocation, as the plugin launches its kernels.
double launchMicroseconds(const ClSetup &Env, cl_kernel Kernel, size_t LiveAllocations) {
  std::vector<void *> Allocations;
  for (size_t I = 0; I < LiveAllocations; ++I)
    Allocations.push_back(
        Env.Usm.DeviceMemAlloc(Env.Context, Env.Device, nullptr, 64, 0, nullptr));
  std::vector<double> Times;
  for (int I = 0; I < 3000; ++I) {
    auto Start = Clock::now();
    if (runKernel(Env, Kernel, 1, 1) != CL_SUCCESS)
      return -1;
    Times.push_back(microseconds(Start));
  }
  for (void *Ptr : Allocations)
    Env.Usm.MemFree(Env.Context, Ptr);
  return median(Times);
}

int benchLaunch(const ClSetup &Env) {
  cl_program Program = buildKernelProgram(Env, "usm_access.spv");
  cl_int Error = CL_SUCCESS;
  cl_kernel Kernel = clCreateKernel(Program, "scale", &Error);
  if (!Kernel)
    return 1;
  void *Data = Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, 64, 0, nullptr);
  int Factor = 1;
  Env.Usm.SetKernelArgMemPointer(Kernel, 0, Data);
  clSetKernelArg(Kernel, 1, sizeof(Factor), &Factor);
  cl_bool On = CL_TRUE;
  for (cl_uint Flag : {kIndirectHost, kIndirectDevice, kIndirectShared})
    clSetKernelExecInfo(Kernel, Flag, sizeof(On), &On);
  launchMicroseconds(Env, Kernel, 10); // warm-up: the first launch compiles the kernel
  double Few = launchMicroseconds(Env, Kernel, 10);
  double Many = launchMicroseconds(Env, Kernel, 10000);
  std::printf("launch: 10 allocations %.1f us, 10000 allocations %.1f us, ratio %.2f\n", Few,
              Many, Many / Few);
  Env.Usm.MemFree(Env.Context, Data);
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
  return 0;
}

std::vector<char> readFile(const char *Path) {
  std::vector<char> Bytes;
  if (FILE *File = std::fopen(Path, "rb")) {
    char Buffer[65536];
    size_t Got;
    while ((Got = std::fread(Buffer, 1, sizeof(Buffer), File)) > 0)
      Bytes.insert(Bytes.end(), Buffer, Buffer + Got);
    std::fclose(File);
  }
  return Bytes;
}

// One load as the plugin does it: every module compiled, then all linked into the final program.
double loadMilliseconds(const ClSetup &Env, const std::vector<std::vector<char>> &Modules) {
  auto Start = Clock::now();
  std::vector<cl_program> Programs;
  for (const std::vector<char> &Spirv : Modules) {
    cl_int Error = CL_SUCCESS;
    cl_program Program = clCreateProgramWithIL(Env.Context, Spirv.data(), Spirv.size(), &Error);
    if (!Program || clCompileProgram(Program, 0, nullptr, "-cl-std=CL2.0", 0, nullptr, nullptr,
                                     nullptr, nullptr) != CL_SUCCESS)
      return -1;
    Programs.push_back(Program);
  }
  cl_int Error = CL_SUCCESS;
  cl_program Linked = clLinkProgram(Env.Context, 1, &Env.Device, "", Programs.size(),
                                    Programs.data(), nullptr, nullptr, &Error);
  double Time = Error == CL_SUCCESS ? microseconds(Start) / 1000 : -1;
  if (Linked)
    clReleaseProgram(Linked);
  for (cl_program Program : Programs)
    clReleaseProgram(Program);
  return Time;
}

int benchLoad(const ClSetup &Env, int Count, char **Paths) {
  std::vector<std::vector<char>> Modules;
  for (int I = 0; I < Count; ++I)
    Modules.push_back(readFile(Paths[I]));
  double First = loadMilliseconds(Env, Modules);
  double Second = loadMilliseconds(Env, Modules);
  std::printf("load of %d modules: first %.1f ms, second in the same process %.1f ms\n", Count,
              First, Second);
  return First < 0 || Second < 0;
}

} // namespace

int main(int Argc, char **Argv) {
  ClSetup Env;
  if (Argc < 2 || !openSetup(Env)) {
    std::fprintf(stderr, "usage: layer_bench launch | load <file.spv>... (layer loaded)\n");
    return 2;
  }
  int Result = std::strcmp(Argv[1], "launch") == 0 ? benchLaunch(Env)
                                                   : benchLoad(Env, Argc - 2, Argv + 2);
  closeSetup(Env);
  return Result;
}
