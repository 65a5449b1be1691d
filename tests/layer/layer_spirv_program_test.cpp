// SPIR-V programs on a device that cannot take SPIR-V itself: build, compile and link of modules
// that depend on each other, link and translation failures with their logs, and the program and
// kernel queries the layer answers.
#include "layer_test_env.h"

#include <gtest/gtest.h>

#include "math_functions.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <utility>
#include <unistd.h>

namespace {

class SpirvProgramTest : public LayerSuite<SpirvProgramTest> {
protected:
  cl_program compiled(const char *Name) {
    cl_program Program = createFromKernel(Env, Name);
    EXPECT_EQ(clCompileProgram(Program, 0, nullptr, "-cl-std=CL2.0", 0, nullptr, nullptr, nullptr,
                               nullptr),
              CL_SUCCESS)
        << programBuildLog(Program, Env.Device);
    return Program;
  }
  template <typename T> T buildInfo(cl_program Program, cl_program_build_info Param) {
    T Value{};
    EXPECT_EQ(clGetProgramBuildInfo(Program, Env.Device, Param, sizeof(T), &Value, nullptr),
              CL_SUCCESS);
    return Value;
  }
  std::string programText(cl_program Program, cl_program_info Param) {
    size_t Size = 0;
    EXPECT_EQ(clGetProgramInfo(Program, Param, 0, nullptr, &Size), CL_SUCCESS);
    std::string Text(Size, '\0');
    clGetProgramInfo(Program, Param, Size, Text.data(), nullptr);
    Text.resize(std::strlen(Text.c_str()));
    return Text;
  }
};

TEST_F(SpirvProgramTest, DeviceReportsSpirv) {
  EXPECT_NE(deviceText(Env.Device, CL_DEVICE_IL_VERSION).find("SPIR-V_1.2"), std::string::npos);
}

TEST_F(SpirvProgramTest, BuiltProgramListsItsKernelsAndArguments) {
  auto Start = std::chrono::steady_clock::now();
  cl_program Program = buildKernelProgram(Env, "usm_access.spv");
  ASSERT_NE(Program, nullptr);
  double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  RecordProperty("build_seconds", std::to_string(Seconds));
  EXPECT_EQ(buildInfo<cl_build_status>(Program, CL_PROGRAM_BUILD_STATUS), CL_BUILD_SUCCESS);
  EXPECT_EQ(buildInfo<cl_program_binary_type>(Program, CL_PROGRAM_BINARY_TYPE),
            CL_PROGRAM_BINARY_TYPE_EXECUTABLE);
  size_t NumKernels = 0;
  clGetProgramInfo(Program, CL_PROGRAM_NUM_KERNELS, sizeof(NumKernels), &NumKernels, nullptr);
  EXPECT_EQ(NumKernels, 2u);
  EXPECT_EQ(programText(Program, CL_PROGRAM_KERNEL_NAMES), "scale;follow_table");
  size_t IlSize = 0;
  clGetProgramInfo(Program, CL_PROGRAM_IL, 0, nullptr, &IlSize);
  EXPECT_EQ(IlSize, readKernel("usm_access.spv").size());

  cl_kernel Kernels[2] = {nullptr, nullptr};
  cl_uint Created = 0;
  ASSERT_EQ(clCreateKernelsInProgram(Program, 2, Kernels, &Created), CL_SUCCESS);
  EXPECT_EQ(Created, 2u);
  cl_program Owner = nullptr;
  clGetKernelInfo(Kernels[0], CL_KERNEL_PROGRAM, sizeof(Owner), &Owner, nullptr);
  EXPECT_EQ(Owner, Program);

  cl_int Error = CL_SUCCESS;
  cl_kernel Scale = clCreateKernel(Program, "scale", &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  char Text[64] = {};
  ASSERT_EQ(clGetKernelArgInfo(Scale, 0, CL_KERNEL_ARG_NAME, sizeof(Text), Text, nullptr),
            CL_SUCCESS);
  EXPECT_STREQ(Text, "data");
  ASSERT_EQ(clGetKernelArgInfo(Scale, 0, CL_KERNEL_ARG_TYPE_NAME, sizeof(Text), Text, nullptr),
            CL_SUCCESS);
  EXPECT_STREQ(Text, "int*");
  cl_kernel_arg_address_qualifier Address = 0;
  clGetKernelArgInfo(Scale, 0, CL_KERNEL_ARG_ADDRESS_QUALIFIER, sizeof(Address), &Address,
                     nullptr);
  EXPECT_EQ(Address, static_cast<cl_kernel_arg_address_qualifier>(CL_KERNEL_ARG_ADDRESS_GLOBAL));
  ASSERT_EQ(clGetKernelArgInfo(Scale, 1, CL_KERNEL_ARG_NAME, sizeof(Text), Text, nullptr),
            CL_SUCCESS);
  EXPECT_STREQ(Text, "factor");
  EXPECT_EQ(clGetKernelArgInfo(Scale, 2, CL_KERNEL_ARG_NAME, sizeof(Text), Text, nullptr),
            CL_INVALID_ARG_INDEX);
  // Kernels keep their program: it is rebuilt only once they are gone.
  EXPECT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_INVALID_OPERATION);
  clReleaseKernel(Scale);
  clReleaseKernel(Kernels[0]);
  clReleaseKernel(Kernels[1]);
  EXPECT_EQ(clReleaseProgram(Program), CL_SUCCESS);
}

TEST_F(SpirvProgramTest, CompiledModulesLinkAcrossFunctionsAndGlobals) {
  cl_program Caller = compiled("link_caller.spv");
  cl_program Provider = compiled("link_provider.spv");
  EXPECT_EQ(buildInfo<cl_program_binary_type>(Caller, CL_PROGRAM_BINARY_TYPE),
            CL_PROGRAM_BINARY_TYPE_COMPILED_OBJECT);
  cl_int Error = CL_SUCCESS;
  cl_kernel NotYet = clCreateKernel(Caller, "use_linked", &Error);
  EXPECT_EQ(NotYet, nullptr);
  EXPECT_EQ(Error, CL_INVALID_PROGRAM_EXECUTABLE);

  cl_program Inputs[] = {Caller, Provider};
  cl_program Linked =
      clLinkProgram(Env.Context, 1, &Env.Device, "", 2, Inputs, nullptr, nullptr, &Error);
  ASSERT_EQ(Error, CL_SUCCESS) << programBuildLog(Linked, Env.Device);
  // A linked program cannot be compiled again, and keeps its executable.
  EXPECT_EQ(clCompileProgram(Linked, 0, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            CL_INVALID_OPERATION);
  EXPECT_EQ(buildInfo<cl_build_status>(Linked, CL_PROGRAM_BUILD_STATUS), CL_BUILD_SUCCESS);
  cl_kernel Kernel = clCreateKernel(Linked, "use_linked", &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  constexpr size_t Count = 16;
  cl_int AllocError = CL_SUCCESS;
  auto *Out = static_cast<int *>(
      Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, Count * sizeof(int), 0,
                             &AllocError));
  ASSERT_NE(Out, nullptr);
  Env.Usm.SetKernelArgMemPointer(Kernel, 0, Out);
  ASSERT_EQ(runKernel(Env, Kernel, Count, 4), CL_SUCCESS);
  for (size_t I = 0; I < Count; ++I)
    EXPECT_EQ(Out[I], static_cast<int>(3 * I + 100)) << I;

  void *Base = nullptr;
  size_t Size = 0;
  EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Linked, "link_base", &Size, &Base),
            CL_SUCCESS);
  EXPECT_EQ(Size, sizeof(int));
  EXPECT_NE(Base, nullptr);
  Env.Usm.MemFree(Env.Context, Out);
  clReleaseKernel(Kernel);
  clReleaseProgram(Linked);
  clReleaseProgram(Caller);
  clReleaseProgram(Provider);
}

TEST_F(SpirvProgramTest, DuplicateDefinitionsFailTheLinkWithALog) {
  cl_program Provider = compiled("link_provider.spv");
  cl_program Clash = compiled("link_clash.spv");
  cl_program Inputs[] = {Provider, Clash};
  cl_int Error = CL_SUCCESS;
  cl_program Linked =
      clLinkProgram(Env.Context, 0, nullptr, nullptr, 2, Inputs, nullptr, nullptr, &Error);
  EXPECT_EQ(Error, CL_LINK_PROGRAM_FAILURE);
  ASSERT_NE(Linked, nullptr) << "a failed link still gives a program for its log";
  EXPECT_EQ(buildInfo<cl_build_status>(Linked, CL_PROGRAM_BUILD_STATUS), CL_BUILD_ERROR);
  EXPECT_NE(programBuildLog(Linked, Env.Device).find("link_triple"), std::string::npos)
      << programBuildLog(Linked, Env.Device);
  cl_kernel None = clCreateKernel(Linked, "use_linked", &Error);
  EXPECT_EQ(None, nullptr);
  EXPECT_EQ(Error, CL_INVALID_PROGRAM_EXECUTABLE);
  clReleaseProgram(Linked);

  // Programs that were never compiled cannot be linked.
  cl_program Raw = createFromKernel(Env, "link_caller.spv");
  cl_program NotCompiled[] = {Raw, Provider};
  EXPECT_EQ(clLinkProgram(Env.Context, 0, nullptr, nullptr, 2, NotCompiled, nullptr, nullptr,
                          &Error),
            nullptr);
  EXPECT_EQ(Error, CL_INVALID_OPERATION);
  clReleaseProgram(Raw);
  clReleaseProgram(Provider);
  clReleaseProgram(Clash);
}

// Edits of a valid module, each breaking a rule the translator's reader depends on (it would
// abort, exit or hang on them): every build fails with a log that says why, and the process lives.
struct BrokenModule {
  const char *Name;
  void (*Break)(std::vector<uint32_t> &Words);
  const char *Reason; // in the log
};

constexpr uint32_t kOpName = 5, kOpEntryPoint = 15, kOpTypeInt = 21, kOpVariable = 59,
                   kOpDecorate = 71, kDecorationAlignment = 44;

uint32_t instruction(uint32_t Opcode, uint32_t Count) { return Count << 16 | Opcode; }

const BrokenModule kBrokenModules[] = {
    {"unknown opcode", [](std::vector<uint32_t> &W) { W[findInstruction(W, kOpName)] |= 0x7FFF; },
     "Invalid opcode"},
    {"short integer type",
     [](std::vector<uint32_t> &W) {
       size_t At = findInstruction(W, kOpTypeInt);
       W[At] = instruction(kOpTypeInt, 3);
       W.erase(W.begin() + At + 3);
     },
     "End of input reached while decoding OpTypeInt"},
    {"truncated final variable",
     [](std::vector<uint32_t> &W) { W.insert(W.end(), {instruction(kOpVariable, 4), 1}); },
     "End of input reached while decoding OpVariable"},
    {"entry point beyond the bound",
     [](std::vector<uint32_t> &W) { W[findInstruction(W, kOpEntryPoint) + 2] = W[3] + 5; },
     "is beyond the module's id bound"},
    {"missing function end", [](std::vector<uint32_t> &W) { W.pop_back(); },
     "Missing OpFunctionEnd"},
    {"instruction schema", [](std::vector<uint32_t> &W) { W[4] = 1; }, "schema"},
    {"string padding",
     [](std::vector<uint32_t> &W) {
       size_t At = findInstruction(W, kOpName);
       std::vector<uint32_t> Name = {instruction(kOpName, 3), W[At + 1], 0x78006261}; // "ab\0x"
       W.erase(W.begin() + At, W.begin() + At + (W[At] >> 16));
       W.insert(W.begin() + At, Name.begin(), Name.end());
     },
     "not padded with zeros"},
    {"alignment of three",
     [](std::vector<uint32_t> &W) {
       size_t At = findInstruction(W, kOpDecorate);
       while ((W[At] & 0xFFFF) != kOpDecorate || W[At + 2] != kDecorationAlignment)
         At += W[At] >> 16;
       W[At + 3] = 3;
     },
     "not a power of two"},
};

TEST_F(SpirvProgramTest, MalformedSpirvIsRefusedOrFailsWithALog) {
  cl_int Error = CL_SUCCESS;
  const char NotSpirv[32] = "this is not a SPIR-V module";
  EXPECT_EQ(clCreateProgramWithIL(Env.Context, NotSpirv, sizeof(NotSpirv), &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_VALUE);
  EXPECT_EQ(clCreateProgramWithIL(Env.Context, nullptr, 0, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_VALUE);

  // A valid header over a broken body gets through creation and fails to build.
  const std::vector<uint32_t> Valid = spirvWordsOf(readKernel("usm_access.spv"));
  for (const BrokenModule &Case : kBrokenModules) {
    std::vector<uint32_t> Words = Valid;
    Case.Break(Words);
    std::vector<char> Bytes = spirvBytesOf(Words);
    cl_program Broken = clCreateProgramWithIL(Env.Context, Bytes.data(), Bytes.size(), &Error);
    ASSERT_EQ(Error, CL_SUCCESS) << Case.Name;
    EXPECT_EQ(clBuildProgram(Broken, 0, nullptr, nullptr, nullptr, nullptr),
              CL_BUILD_PROGRAM_FAILURE)
        << Case.Name;
    EXPECT_EQ(buildInfo<cl_build_status>(Broken, CL_PROGRAM_BUILD_STATUS), CL_BUILD_ERROR);
    std::string Log = programBuildLog(Broken, Env.Device);
    EXPECT_EQ(Log.rfind("error: SPIR-V validation failed: ", 0), 0u) << Case.Name << ": " << Log;
    EXPECT_NE(Log.find(Case.Reason), std::string::npos) << Case.Name << ": " << Log;
    EXPECT_EQ(clCompileProgram(Broken, 0, nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                               nullptr),
              CL_COMPILE_PROGRAM_FAILURE)
        << Case.Name;
    cl_uint Value = 0; // the constant reader is kept away from the module too
    EXPECT_EQ(clSetProgramSpecializationConstant(Broken, 0, sizeof(Value), &Value),
              CL_INVALID_SPEC_ID)
        << Case.Name;
    clReleaseProgram(Broken);
  }
}

// The translator cannot read add-with-carry or subtract-with-borrow (clang-22 forms them from
// overflow checks in loops, and a build used to stop there): they build and compute, in 32 and
// 64 bits, with and without a carry or borrow.
TEST_F(SpirvProgramTest, AddWithCarryAndSubtractWithBorrowCompute) {
  cl_program Program = buildKernelProgram(Env, "add_carry.spv");
  ASSERT_NE(Program, nullptr);
  cl_int Error = CL_SUCCESS;
  cl_kernel Kernel = clCreateKernel(Program, "carries", &Error);
  ASSERT_EQ(Error, CL_SUCCESS) << programBuildLog(Program, Env.Device);
  auto *Out = static_cast<cl_uint *>(
      Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, 8 * sizeof(cl_uint), 0, &Error));
  ASSERT_NE(Out, nullptr);
  EXPECT_EQ(Env.Usm.SetKernelArgMemPointer(Kernel, 0, Out), CL_SUCCESS);
  for (auto [A, B] : {std::pair<cl_uint, cl_uint>{0xFFFFFFF0u, 0x20u}, {5u, 3u}}) {
    clSetKernelArg(Kernel, 1, sizeof(A), &A);
    clSetKernelArg(Kernel, 2, sizeof(B), &B);
    ASSERT_EQ(runKernel(Env, Kernel, 1, 1), CL_SUCCESS);
    cl_uint Carry = uint64_t(A) + B > 0xFFFFFFFFu;
    std::vector<cl_uint> Expected = {A + B, Carry, A - B, A < B, B - A, B < A, A + B, Carry};
    EXPECT_EQ(std::vector<cl_uint>(Out, Out + 8), Expected) << A << " and " << B;
  }
  Env.Usm.MemBlockingFree(Env.Context, Out);
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
}

// Run by the layer_helper_* tests, with the SPIR-V layer copied where its translator helper is
// missing or cannot be run (LAYER_TEST_HELPER_FAULT gives the system's reason); skipped where the
// helper is in place. Builds fail with a log that says why, and the application goes on.
TEST_F(SpirvProgramTest, BuildsWithoutAWorkingHelperFailWithALog) {
  const char *Reason = std::getenv("LAYER_TEST_HELPER_FAULT");
  if (!Reason)
    GTEST_SKIP() << "the translator helper is in place";
  cl_program Program = createFromKernel(Env, "usm_access.spv");
  EXPECT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr),
            CL_BUILD_PROGRAM_FAILURE);
  std::string Log = programBuildLog(Program, Env.Device);
  EXPECT_EQ(Log.rfind("error: SPIR-V translation failed: the translator helper could not run: "
                      "cannot start /",
                      0),
            0u)
      << Log;
  EXPECT_NE(Log.find(std::string("omptarget_cl_spirv_translator: ") + Reason), std::string::npos)
      << Log;
  cl_uint Value = 0;
  EXPECT_EQ(clSetProgramSpecializationConstant(Program, 0, sizeof(Value), &Value),
            CL_INVALID_SPEC_ID);
  clReleaseProgram(Program);
}

// What the process writes to its standard output while Run runs.
template <typename Run> std::string printedDuring(Run &&Body) {
  std::fflush(stdout);
  FILE *Capture = std::tmpfile();
  int Saved = dup(STDOUT_FILENO);
  dup2(fileno(Capture), STDOUT_FILENO);
  Body();
  std::fflush(stdout);
  dup2(Saved, STDOUT_FILENO);
  close(Saved);
  std::string Text;
  std::rewind(Capture);
  for (int C; (C = std::fgetc(Capture)) != EOF;)
    Text += static_cast<char>(C);
  std::fclose(Capture);
  return Text;
}

// SPIR-V 1.4 modules with what the translator cannot read as it is: each builds, and its kernel
// "check", run once over the words Before, leaves After and prints Printed.
struct Spirv14Module {
  const char *File;
  std::vector<cl_uint> Before, After;
  std::string Printed;
};

const Spirv14Module kSpirv14Modules[] = {
    {"copy_logical.spv", {5, 9, 7, 0, 0, 0}, {5, 9, 7, 5, 9, 7}, ""},
    {"pointer_compare.spv", {0, 0, 0, 0, 0}, {3, 0, 1, 1, static_cast<cl_uint>(-5)}, ""},
    {"user_semantic.spv", {0, 0}, {21, 34}, ""},
    {"copy_memory.spv", {1, 2, 0, 0}, {1, 2, 1, 1}, ""},
    {"printf_float.spv", {0x3F000000}, {0x3F000000}, "[0.50 0.75]\n"}, // 0.5f
};

TEST_F(SpirvProgramTest, Spirv14ConstructsBuildAndRun) {
  for (const Spirv14Module &Case : kSpirv14Modules) {
    cl_program Program = createFromKernel(Env, Case.File);
    if (clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr) != CL_SUCCESS) {
      ADD_FAILURE() << Case.File << ": " << programBuildLog(Program, Env.Device);
      clReleaseProgram(Program);
      continue;
    }
    cl_int Error = CL_SUCCESS;
    cl_kernel Kernel = clCreateKernel(Program, "check", &Error);
    ASSERT_EQ(Error, CL_SUCCESS) << Case.File;
    auto *Data = static_cast<cl_uint *>(Env.Usm.SharedMemAlloc(
        Env.Context, Env.Device, nullptr, Case.Before.size() * sizeof(cl_uint), 0, &Error));
    ASSERT_NE(Data, nullptr);
    std::copy(Case.Before.begin(), Case.Before.end(), Data);
    EXPECT_EQ(Env.Usm.SetKernelArgMemPointer(Kernel, 0, Data), CL_SUCCESS);
    std::string Printed =
        printedDuring([&] { EXPECT_EQ(runKernel(Env, Kernel, 1, 1), CL_SUCCESS) << Case.File; });
    EXPECT_EQ(std::vector<cl_uint>(Data, Data + Case.Before.size()), Case.After) << Case.File;
    EXPECT_EQ(Printed, Case.Printed) << Case.File;
    Env.Usm.MemBlockingFree(Env.Context, Data);
    clReleaseKernel(Kernel);
    clReleaseProgram(Program);
  }
}

// Either byte order is a SPIR-V module; a swapped one builds like the original.
TEST_F(SpirvProgramTest, ByteSwappedModulesBuild) {
  std::vector<uint32_t> Words = spirvWordsOf(readKernel("usm_access.spv"));
  for (uint32_t &Word : Words)
    Word = __builtin_bswap32(Word);
  std::vector<char> Bytes = spirvBytesOf(Words);
  cl_int Error = CL_SUCCESS;
  cl_program Program = clCreateProgramWithIL(Env.Context, Bytes.data(), Bytes.size(), &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS)
      << programBuildLog(Program, Env.Device);
  EXPECT_EQ(programText(Program, CL_PROGRAM_KERNEL_NAMES), "scale;follow_table");
  clReleaseProgram(Program);
}

// Constants are set one call at a time, checked against the module's own list of them, which is
// read in the translator helper once per module, not at every call; the build uses the values.
TEST_F(SpirvProgramTest, SpecialisationConstantsAreCheckedAndUsed) {
  static std::atomic<int> HelpersEnded{0};
  struct sigaction Count = {}, Previous = {};
  Count.sa_handler = [](int) { ++HelpersEnded; };
  Count.sa_flags = SA_RESTART;
  ASSERT_EQ(sigaction(SIGCHLD, &Count, &Previous), 0);
  cl_program Program = createFromKernel(Env, "spec_constant.spv");
  const cl_uint Value = 9;
  const cl_ushort Short = 1;
  EXPECT_EQ(clSetProgramSpecializationConstant(Program, 4, sizeof(Value), &Value),
            CL_INVALID_SPEC_ID);
  EXPECT_EQ(clSetProgramSpecializationConstant(Program, 3, sizeof(Short), &Short),
            CL_INVALID_VALUE);
  EXPECT_EQ(clSetProgramSpecializationConstant(Program, 3, sizeof(Value), nullptr),
            CL_INVALID_VALUE);
  for (int I = 0; I < 3; ++I)
    EXPECT_EQ(clSetProgramSpecializationConstant(Program, 3, sizeof(Value), &Value), CL_SUCCESS);
  int Helpers = HelpersEnded;
  sigaction(SIGCHLD, &Previous, nullptr);
  EXPECT_EQ(Helpers, 1);
  ASSERT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS)
      << programBuildLog(Program, Env.Device);
  cl_int Error = CL_SUCCESS;
  cl_kernel Kernel = clCreateKernel(Program, "spec_value", &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  auto *Out = static_cast<cl_uint *>(
      Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, sizeof(cl_uint), 0, &Error));
  ASSERT_NE(Out, nullptr);
  EXPECT_EQ(Env.Usm.SetKernelArgMemPointer(Kernel, 0, Out), CL_SUCCESS);
  EXPECT_EQ(runKernel(Env, Kernel, 1, 1), CL_SUCCESS);
  EXPECT_EQ(*Out, Value);
  Env.Usm.MemBlockingFree(Env.Context, Out);
  clReleaseKernel(Kernel);
  clReleaseProgram(Program);
}

TEST_F(SpirvProgramTest, NotifyCallbackAndBuildOptionsAreKept) {
  cl_program Program = createFromKernel(Env, "usm_access.spv");
  int Calls = 0;
  auto Notify = [](cl_program, void *Count) { ++*static_cast<int *>(Count); };
  ASSERT_EQ(clBuildProgram(Program, 1, &Env.Device, "-cl-std=CL2.0 -cl-mad-enable", Notify,
                           &Calls),
            CL_SUCCESS);
  EXPECT_EQ(Calls, 1);
  EXPECT_EQ(programText(Program, CL_PROGRAM_SOURCE), "");
  char Options[64] = {};
  clGetProgramBuildInfo(Program, Env.Device, CL_PROGRAM_BUILD_OPTIONS, sizeof(Options), Options,
                        nullptr);
  EXPECT_STREQ(Options, "-cl-std=CL2.0 -cl-mad-enable");
  cl_device_id Stranger = reinterpret_cast<cl_device_id>(&Calls);
  EXPECT_EQ(clGetProgramBuildInfo(Program, Stranger, CL_PROGRAM_BUILD_STATUS, 0, nullptr, nullptr),
            CL_INVALID_DEVICE);
  cl_uint RefCount = 0;
  clGetProgramInfo(Program, CL_PROGRAM_REFERENCE_COUNT, sizeof(RefCount), &RefCount, nullptr);
  EXPECT_EQ(RefCount, 1u);
  clReleaseProgram(Program);
}

} // namespace

// How far apart two values are in units in the last place of the expected one (0 when both are
// the same, or both NaN).
template <typename Real> double ulpsApart(Real Got, Real Want) {
  if (Got == Want || (std::isnan(Got) && std::isnan(Want)))
    return 0;
  if (!std::isfinite(Got) || !std::isfinite(Want))
    return INFINITY;
  Real Magnitude = std::fabs(Want);
  Real Ulp = std::nextafter(Magnitude, std::numeric_limits<Real>::infinity()) - Magnitude;
  return std::fabs(double(Got) - double(Want)) / double(Ulp);
}

// The largest distance accepted per function: the accuracy OpenCL requires of the device's
// built-in the library calls, plus one ulp for the host's own rounding. Exact functions allow
// none; the composite complex functions add up the errors of their parts.
double ulpBound(const std::string &Function) {
  static const std::map<std::string, double> Bounds = {
      {"fabs", 0},     {"floor", 0},  {"ceil", 0},      {"trunc", 0},       {"round", 0},
      {"rint", 0},     {"fmod", 0},   {"fmin", 0},      {"fmax", 0},        {"fdim", 0},
      {"copysign", 0}, {"remainder", 0}, {"nextafter", 0}, {"ldexp", 0},    {"frexp", 0},
      {"frexp exponent", 0}, {"modf", 0}, {"modf integral", 0}, {"conj", 0}, {"fma", 0},
      {"sqrt", 4},     {"cbrt", 3},   {"log1p", 3},     {"exp", 4},         {"exp2", 4},
      {"expm1", 4},    {"log", 4},    {"log2", 4},      {"log10", 4},       {"atan", 6},
      {"tanh", 6},     {"atan2", 7},  {"carg", 7},      {"hypot", 5},       {"cabs", 5},
      {"erf", 17},     {"erfc", 17},  {"tgamma", 17},   {"lgamma", 17},     {"pow", 17},
      {"complex arithmetic", 8},      {"mul", 8},       {"div", 8},         {"cexp", 16},
      {"clog", 16},    {"csqrt", 16}};
  auto It = Bounds.find(Function);
  return It == Bounds.end() ? 5 : It->second; // trigonometric and hyperbolic: 4, plus 1
}

// The fallback device libraries linked with a module that calls every function they provide:
// each result is the host C library's within the function's stated bound in ulps.
TEST_F(SpirvProgramTest, FallbackDeviceLibrariesComputeWhatTheHostComputes) {
  std::vector<cl_program> Inputs = {compiled("devicelib_caller.spv")};
  for (const char *Name : {"cmath", "cmath-fp64", "complex", "complex-fp64", "cstring"}) {
    std::ifstream File(std::string(DEVICELIB_DIR) + "/libomp-fallback-" + Name + ".spv",
                       std::ios::binary);
    std::vector<char> Il{std::istreambuf_iterator<char>(File), {}};
    ASSERT_FALSE(Il.empty()) << Name;
    cl_int Error = CL_SUCCESS;
    Inputs.push_back(clCreateProgramWithIL(Env.Context, Il.data(), Il.size(), &Error));
    ASSERT_EQ(Error, CL_SUCCESS) << Name;
    ASSERT_EQ(clCompileProgram(Inputs.back(), 0, nullptr, "-cl-std=CL2.0", 0, nullptr, nullptr,
                               nullptr, nullptr),
              CL_SUCCESS)
        << Name << programBuildLog(Inputs.back(), Env.Device);
  }
  cl_int Error = CL_SUCCESS;
  cl_program Linked = clLinkProgram(Env.Context, 1, &Env.Device, "", Inputs.size(), Inputs.data(),
                                    nullptr, nullptr, &Error);
  ASSERT_EQ(Error, CL_SUCCESS) << programBuildLog(Linked, Env.Device);
  auto *Out = static_cast<double *>(
      Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, 256 * sizeof(double), 0, &Error));
  ASSERT_NE(Out, nullptr);
  // Runs one work-item of Name with Out and the scalar arguments.
  auto Run = [&](const char *Name, auto... Args) {
    cl_kernel Kernel = clCreateKernel(Linked, Name, &Error);
    ASSERT_EQ(Error, CL_SUCCESS) << Name;
    Env.Usm.SetKernelArgMemPointer(Kernel, 0, Out);
    cl_uint Index = 1;
    (clSetKernelArg(Kernel, Index++, sizeof(Args), &Args), ...);
    if (Index == 1)
      Env.Usm.SetKernelArgMemPointer(Kernel, 1, Out + 4);
    EXPECT_EQ(runKernel(Env, Kernel, 1, 1), CL_SUCCESS) << Name;
    clReleaseKernel(Kernel);
  };
  auto Compare = [](const char *What, auto *Got, const auto &Want) {
    for (size_t I = 0; I < Want.size(); ++I) {
      double Ulps = ulpsApart(Got[I], Want[I].second);
      EXPECT_LE(Ulps, ulpBound(Want[I].first))
          << What << " " << Want[I].first << ": " << Got[I] << ", not " << Want[I].second;
    }
  };
  auto CheckMath = [&](auto X, auto Y, const char *Name) {
    using Real = decltype(X);
    std::vector<std::pair<const char *, Real>> Want;
#define UNARY(name) Want.push_back({#name, std::name(X)});
#define BINARY(name) Want.push_back({#name, std::name(X, Y)});
    DEVICELIB_MATH_FUNCTIONS(UNARY, BINARY)
#undef UNARY
#undef BINARY
    Run(Name, X, Y);
    Compare(Name, reinterpret_cast<const Real *>(Out), Want);
  };
  auto CheckOthers = [&](auto X, auto Y, auto U, auto V, const char *Name) {
    using Real = decltype(X);
    std::complex<Real> Z(X, Y), W(U, V);
    int Exponent = 0;
    Real Integral = 0, Fraction = std::frexp(X, &Exponent), Rest = std::modf(X, &Integral);
    std::complex<Real> Pairs[] = {std::conj(Z), Z * W,        Z / W,
                                  std::exp(Z),  std::log(Z), std::sqrt(Z)};
    std::vector<std::pair<const char *, Real>> Want = {
        {"fma", std::fma(X, Y, U)}, {"ldexp", std::ldexp(X, 3)}, {"frexp", Fraction},
        {"frexp exponent", Real(Exponent)}, {"modf", Rest}, {"modf integral", Integral},
        {"sincos sin", std::sin(X)}, {"sincos cos", std::cos(X)}, {"cabs", std::abs(Z)},
        {"carg", std::arg(Z)}};
    const char *PairNames[] = {"conj", "mul", "div", "cexp", "clog", "csqrt"};
    for (size_t I = 0; I < 6; ++I) {
      Want.push_back({PairNames[I], Pairs[I].real()});
      Want.push_back({PairNames[I], Pairs[I].imag()});
    }
    Run(Name, X, Y, U, V);
    Compare(Name, reinterpret_cast<const Real *>(Out), Want);
  };
  // Arguments inside and outside the domains of the inverse functions.
  for (auto [X, Y] : {std::pair{0.5, 0.25}, std::pair{1.5, -2.0}}) {
    CheckMath(float(X), float(Y), "math_float");
    CheckMath(X, Y, "math_double");
  }
  CheckOthers(1.25f, -0.75f, 0.5f, 2.0f, "others_float");
  CheckOthers(1.25, -0.75, 0.5, 2.0, "others_double");

  // Products and quotients with infinities, NaNs, zeros and values whose squares overflow or
  // underflow: each part is finite, infinite or NaN as the host's C arithmetic (Annex G) makes
  // it, and a finite part is within the bound of the host's value.
  auto CheckSpecial = [&](auto Huge, auto Tiny, const char *Name) {
    using Real = decltype(Huge);
    const Real Inf = std::numeric_limits<Real>::infinity();
    const Real NaN = std::numeric_limits<Real>::quiet_NaN();
    std::vector<Real> In = {Inf, NaN, 2, 0,      Inf,  Inf, 1, -1,   NaN, 1,   1,   1,
                            1,   1,   0, 0,      1,    2,   Inf, Inf, 0,   Inf, 0,   1,
                            Huge, Huge, Huge, Huge, Tiny, Tiny, Tiny, 2 * Tiny,
                            1.5, -2,  0.5, 3,    -Inf, 0,   0,   -0.0};
    int N = static_cast<int>(In.size() / 4);
    Real *Operands = reinterpret_cast<Real *>(Out + 128); // after the results
    std::memcpy(Operands, In.data(), In.size() * sizeof(Real));
    cl_kernel Kernel = clCreateKernel(Linked, Name, &Error);
    ASSERT_EQ(Error, CL_SUCCESS) << Name;
    Env.Usm.SetKernelArgMemPointer(Kernel, 0, Out);
    Env.Usm.SetKernelArgMemPointer(Kernel, 1, Operands);
    clSetKernelArg(Kernel, 2, sizeof(N), &N);
    EXPECT_EQ(runKernel(Env, Kernel, 1, 1), CL_SUCCESS) << Name;
    clReleaseKernel(Kernel);
    const Real *Got = reinterpret_cast<const Real *>(Out);
    auto Kind = [](Real V) { return std::isnan(V) ? "nan" : std::isinf(V) ? "inf" : "finite"; };
    for (int K = 0; K < N; ++K) {
      std::complex<Real> Z(In[4 * K], In[4 * K + 1]), W(In[4 * K + 2], In[4 * K + 3]);
      std::complex<Real> Want[2] = {Z * W, Z / W};
      for (int Part = 0; Part < 4; ++Part) {
        Real Host = Part % 2 ? Want[Part / 2].imag() : Want[Part / 2].real();
        Real Device = Got[4 * K + Part];
        std::string Case = std::string(Name) + (Part < 2 ? " mul " : " div ") +
                           std::to_string(K) + (Part % 2 ? " imag" : " real");
        EXPECT_STREQ(Kind(Device), Kind(Host)) << Case << ": " << Device << ", not " << Host;
        if (std::isfinite(Host) && std::isfinite(Device)) {
          EXPECT_LE(ulpsApart(Device, Host), ulpBound("complex arithmetic")) << Case;
        }
      }
    }
  };
  CheckSpecial(1e30f, 1e-30f, "complex_special_float");
  CheckSpecial(1e300, 1e-300, "complex_special_double");

  std::memset(Out, 0, 64);
  Run("strings");
  const auto *Bytes = reinterpret_cast<const unsigned char *>(Out);
  const auto *Cmp = reinterpret_cast<const int *>(Out + 4);
  EXPECT_EQ(std::vector<unsigned char>(Bytes, Bytes + 8),
            (std::vector<unsigned char>{0, 0x5A, 0x5A, 0x5A, 'a', 'b', 'c', 0}));
  EXPECT_EQ(std::vector<int>(Cmp, Cmp + 3), (std::vector<int>{-1, 1, 0}));

  Env.Usm.MemFree(Env.Context, Out);
  clReleaseProgram(Linked);
  for (cl_program Program : Inputs)
    clReleaseProgram(Program);
}
