// SPIR-V programs on a device that cannot take SPIR-V itself: build, compile and link of modules
// that depend on each other, link and translation failures with their logs, and the program and
// kernel queries the layer answers.
#include "layer_test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

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
