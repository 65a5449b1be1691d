// A context and queue on the first device that offers the shared-memory extension, with the
// extension's functions looked up by name, as a client of the layer would.
#pragma once

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr cl_uint kAllocTypeQuery = 0x419A;
constexpr cl_uint kTypeUnknown = 0x4196;
constexpr cl_uint kTypeHost = 0x4197;
constexpr cl_uint kTypeDevice = 0x4198;
constexpr cl_uint kTypeShared = 0x4199;
constexpr cl_uint kIndirectHost = 0x4200;
constexpr cl_uint kIndirectDevice = 0x4201;
constexpr cl_uint kIndirectShared = 0x4202;
constexpr cl_uint kIndirectPointers = 0x4203;

struct UsmApi {
  cl_int(CL_API_CALL *GetMemAllocInfo)(cl_context, const void *, cl_uint, size_t, void *,
                                       size_t *) = nullptr;
  void *(CL_API_CALL *HostMemAlloc)(cl_context, const cl_ulong *, size_t, cl_uint,
                                    cl_int *) = nullptr;
  void *(CL_API_CALL *DeviceMemAlloc)(cl_context, cl_device_id, const cl_ulong *, size_t,
                                      cl_uint, cl_int *) = nullptr;
  void *(CL_API_CALL *SharedMemAlloc)(cl_context, cl_device_id, const cl_ulong *, size_t,
                                      cl_uint, cl_int *) = nullptr;
  cl_int(CL_API_CALL *MemFree)(cl_context, void *) = nullptr;
  cl_int(CL_API_CALL *MemBlockingFree)(cl_context, void *) = nullptr;
  cl_int(CL_API_CALL *SetKernelArgMemPointer)(cl_kernel, cl_uint, const void *) = nullptr;
  cl_int(CL_API_CALL *EnqueueMemcpy)(cl_command_queue, cl_bool, void *, const void *, size_t,
                                     cl_uint, const cl_event *, cl_event *) = nullptr;
  cl_int(CL_API_CALL *GetDeviceGlobalVariablePointer)(cl_device_id, cl_program, const char *,
                                                      size_t *, void **) = nullptr;
  cl_int(CL_API_CALL *GetKernelSuggestedLocalWorkSize)(cl_command_queue, cl_kernel, cl_uint,
                                                       const size_t *, const size_t *,
                                                       size_t *) = nullptr;
};

// The names the extension answers, in the order of the members above.
extern const char *const kUsmFunctionNames[10];

struct ClSetup {
  cl_platform_id Platform = nullptr;
  cl_device_id Device = nullptr;
  cl_context Context = nullptr;
  cl_command_queue Queue = nullptr; // in order, with profiling
  UsmApi Usm;
};

// Opens the first device whose extension list names the shared-memory extension.
bool openSetup(ClSetup &Setup);
void closeSetup(ClSetup &Setup);

std::string deviceText(cl_device_id Device, cl_device_info Param);
std::string programBuildLog(cl_program Program, cl_device_id Device);
std::vector<char> readKernel(const char *Name); // a .spv of the test kernels
cl_program createFromKernel(const ClSetup &Setup, const char *Name);
// Creates and builds; fails the current test on error.
cl_program buildKernelProgram(const ClSetup &Setup, const char *Name);
// SPIR-V test modules as words, for edits at the instruction level.
std::vector<uint32_t> spirvWordsOf(const std::vector<char> &Bytes);
std::vector<char> spirvBytesOf(const std::vector<uint32_t> &Words);
// Word index of the first instruction with this opcode (0 when there is none).
size_t findInstruction(const std::vector<uint32_t> &Words, uint32_t Opcode);
// A literal string operand: the text, a nul and zero padding to a whole word.
std::vector<uint32_t> spirvString(const std::string &Text);
// Runs a 1-D range and waits.
cl_int runKernel(const ClSetup &Setup, cl_kernel Kernel, size_t Global, size_t Local);

// A test suite over the layer on the real device: the device is opened once per suite and, when
// the suite names a ProgramFile, that kernel program is built once too.
template <typename Suite> class LayerSuite : public ::testing::Test {
protected:
  static constexpr const char *ProgramFile = nullptr;

  static void SetUpTestSuite() {
    Ready = openSetup(Env);
    if (Ready && Suite::ProgramFile)
      Program = buildKernelProgram(Env, Suite::ProgramFile);
  }
  static void TearDownTestSuite() {
    if (Program)
      clReleaseProgram(Program);
    Program = nullptr;
    closeSetup(Env);
  }
  void SetUp() override {
    if (!Ready)
      FAIL() << "no device offers the shared-memory extension: is the layer loaded?";
    if (Suite::ProgramFile && !Program)
      FAIL() << "no program: " << Suite::ProgramFile << " did not build";
  }

  static inline ClSetup Env;
  static inline bool Ready = false;
  static inline cl_program Program = nullptr;
};
