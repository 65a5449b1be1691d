// SPIR-V programs on a device that cannot take SPIR-V itself: build, compile and link of modules
// that depend on each other, link and translation failures with their logs, and the program and
// kernel queries the layer answers.
#include "layer_test_env.h"

#include <gtest/gtest.h>

#include "math_functions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <iterator>

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

TEST_F(SpirvProgramTest, MalformedSpirvIsRefusedOrFailsWithALog) {
  cl_int Error = CL_SUCCESS;
  const char NotSpirv[32] = "this is not a SPIR-V module";
  EXPECT_EQ(clCreateProgramWithIL(Env.Context, NotSpirv, sizeof(NotSpirv), &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_VALUE);
  EXPECT_EQ(clCreateProgramWithIL(Env.Context, nullptr, 0, &Error), nullptr);
  EXPECT_EQ(Error, CL_INVALID_VALUE);

  // A valid header over a truncated body gets through creation and fails to build.
  std::vector<char> Spirv = readKernel("usm_access.spv");
  Spirv.resize(Spirv.size() / 2 / 4 * 4);
  cl_program Broken = clCreateProgramWithIL(Env.Context, Spirv.data(), Spirv.size(), &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  EXPECT_EQ(clBuildProgram(Broken, 0, nullptr, nullptr, nullptr, nullptr),
            CL_BUILD_PROGRAM_FAILURE);
  EXPECT_EQ(buildInfo<cl_build_status>(Broken, CL_PROGRAM_BUILD_STATUS), CL_BUILD_ERROR);
  EXPECT_NE(programBuildLog(Broken, Env.Device).find("SPIR-V"), std::string::npos);
  clReleaseProgram(Broken);
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

// The fallback device libraries linked with a module that calls every function they provide:
// each result is the host C library's, within the device's rounding.
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
      Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, 64 * sizeof(double), 0, &Error));
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
  auto Compare = [](const char *What, auto *Got, const auto &Want, double Tolerance) {
    for (size_t I = 0; I < Want.size(); ++I) {
      double G = Got[I], W = Want[I].second;
      EXPECT_TRUE((std::isnan(G) && std::isnan(W)) ||
                  std::fabs(G - W) <= Tolerance * std::max(1.0, std::fabs(W)))
          << What << " " << Want[I].first << ": " << G << ", not " << W;
    }
  };
  auto CheckMath = [&](auto X, auto Y, const char *Name, double Tolerance) {
    using Real = decltype(X);
    std::vector<std::pair<const char *, Real>> Want;
#define UNARY(name) Want.push_back({#name, std::name(X)});
#define BINARY(name) Want.push_back({#name, std::name(X, Y)});
    DEVICELIB_MATH_FUNCTIONS(UNARY, BINARY)
#undef UNARY
#undef BINARY
    Run(Name, X, Y);
    Compare(Name, reinterpret_cast<const Real *>(Out), Want, Tolerance);
  };
  auto CheckOthers = [&](auto X, auto Y, auto U, auto V, const char *Name, double Tolerance) {
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
    Compare(Name, reinterpret_cast<const Real *>(Out), Want, Tolerance);
  };
  // Arguments inside and outside the domains of the inverse functions.
  for (auto [X, Y] : {std::pair{0.5, 0.25}, std::pair{1.5, -2.0}}) {
    CheckMath(float(X), float(Y), "math_float", 1e-5);
    CheckMath(X, Y, "math_double", 1e-12);
  }
  CheckOthers(1.25f, -0.75f, 0.5f, 2.0f, "others_float", 1e-5);
  CheckOthers(1.25, -0.75, 0.5, 2.0, "others_double", 1e-12);

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
