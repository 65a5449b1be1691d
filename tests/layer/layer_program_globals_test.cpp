// Program-scope variables of SPIR-V programs: one copy per program shared by all its kernels and
// launches, initialisers (pointer ones too), host access through the variable's address, and the
// address query's errors.
#include "layer_test_env.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

class ProgramGlobalsTest : public LayerSuite<ProgramGlobalsTest> {
public:
  static constexpr const char *ProgramFile = "program_globals.spv";

protected:
  void *address(const char *Name, size_t *Size = nullptr) {
    void *Ptr = nullptr;
    EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Program, Name, Size, &Ptr),
              CL_SUCCESS)
        << Name;
    return Ptr;
  }
  template <typename T> T readDevice(const void *Ptr) {
    T Value{};
    EXPECT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, &Value, Ptr, sizeof(T), 0, nullptr,
                                    nullptr),
              CL_SUCCESS);
    return Value;
  }
  template <typename T> void writeDevice(void *Ptr, T Value) {
    EXPECT_EQ(Env.Usm.EnqueueMemcpy(Env.Queue, CL_TRUE, Ptr, &Value, sizeof(T), 0, nullptr,
                                    nullptr),
              CL_SUCCESS);
  }
  // read_globals: counter, *value_pointer, values[3], host_written.
  std::vector<cl_long> readThroughKernel(cl_program From) {
    cl_int Error = CL_SUCCESS;
    cl_kernel Read = clCreateKernel(From, "read_globals", &Error);
    auto *Out = static_cast<cl_long *>(
        Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, 4 * sizeof(cl_long), 0, &Error));
    Env.Usm.SetKernelArgMemPointer(Read, 0, Out);
    EXPECT_EQ(runKernel(Env, Read, 1, 1), CL_SUCCESS);
    std::vector<cl_long> Values(Out, Out + 4);
    Env.Usm.MemFree(Env.Context, Out);
    clReleaseKernel(Read);
    return Values;
  }
  void runNamed(cl_program From, const char *Name, size_t Global, size_t Local, int Arg = -1) {
    cl_int Error = CL_SUCCESS;
    cl_kernel Kernel = clCreateKernel(From, Name, &Error);
    ASSERT_EQ(Error, CL_SUCCESS);
    if (Arg >= 0)
      clSetKernelArg(Kernel, 0, sizeof(Arg), &Arg);
    EXPECT_EQ(runKernel(Env, Kernel, Global, Local), CL_SUCCESS);
    clReleaseKernel(Kernel);
  }
};

TEST_F(ProgramGlobalsTest, InitialisersIncludingPointersAreInPlace) {
  size_t Size = 0;
  auto *Values = static_cast<char *>(address("values", &Size));
  EXPECT_EQ(Size, 4 * sizeof(int));
  EXPECT_EQ(readDevice<int>(Values + 3 * sizeof(int)), 40);
  void *Pointer = address("value_pointer", &Size);
  EXPECT_EQ(Size, sizeof(void *));
  EXPECT_EQ(readDevice<char *>(Pointer), Values + 2 * sizeof(int));
  cl_uint Type = 0;
  Env.Usm.GetMemAllocInfo(Env.Context, Pointer, kAllocTypeQuery, sizeof(Type), &Type, nullptr);
  EXPECT_EQ(Type, kTypeUnknown) << "program memory, not a shared-memory allocation";
  EXPECT_EQ(Env.Usm.MemFree(Env.Context, Values), CL_INVALID_VALUE) << "owned by the program";
}

TEST_F(ProgramGlobalsTest, ValuesPersistAcrossKernelsLaunchesAndGroupSizes) {
  void *Counter = address("counter");
  writeDevice<int>(Counter, 5);
  runNamed(Program, "count_work_items", 64, 8);
  runNamed(Program, "count_work_items", 64, 16);
  runNamed(Program, "count_work_items", 32, 32);
  std::vector<cl_long> Seen = readThroughKernel(Program);
  EXPECT_EQ(Seen[0], 5 + 64 + 64 + 32);
  EXPECT_EQ(readDevice<int>(Counter), 5 + 64 + 64 + 32);
}

TEST_F(ProgramGlobalsTest, HostAndKernelWritesMeetInOnePlace) {
  writeDevice<cl_long>(address("host_written"), 0x123456789LL);
  EXPECT_EQ(readThroughKernel(Program)[3], 0x123456789LL);
  runNamed(Program, "set_counter", 1, 1, 77);
  EXPECT_EQ(readDevice<int>(address("counter")), 77);
  // The kernel also stored a pointer to values[0]; another kernel follows it.
  EXPECT_EQ(readDevice<void *>(address("value_pointer")), address("values"));
  EXPECT_EQ(readThroughKernel(Program)[1], 10);
}

// A second program from the same module, and one made from the first one's binary, have
// variables of their own, initialised; a damaged binary is refused.
TEST_F(ProgramGlobalsTest, EachProgramHasItsOwnStorage) {
  size_t Size = 0;
  ASSERT_EQ(clGetProgramInfo(Program, CL_PROGRAM_BINARY_SIZES, sizeof(Size), &Size, nullptr),
            CL_SUCCESS);
  std::vector<unsigned char> Binary(Size);
  unsigned char *Binaries[] = {Binary.data()};
  ASSERT_EQ(clGetProgramInfo(Program, CL_PROGRAM_BINARIES, sizeof(Binaries), Binaries, nullptr),
            CL_SUCCESS);
  const unsigned char *Image = Binary.data();
  cl_int Error = CL_SUCCESS, Status = CL_SUCCESS;
  // Cut short, it is refused before anything reads it in the application's process.
  size_t Half = Size / 2;
  EXPECT_EQ(clCreateProgramWithBinary(Env.Context, 1, &Env.Device, &Half, &Image, &Status, &Error),
            nullptr);
  EXPECT_EQ(Error, CL_INVALID_BINARY);
  EXPECT_EQ(Status, CL_INVALID_BINARY);
  cl_program FromBinary =
      clCreateProgramWithBinary(Env.Context, 1, &Env.Device, &Size, &Image, &Status, &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  EXPECT_EQ(Status, CL_SUCCESS);
  EXPECT_EQ(clBuildProgram(FromBinary, 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS)
      << programBuildLog(FromBinary, Env.Device);
  for (cl_program Other : {buildKernelProgram(Env, "program_globals.spv"), FromBinary}) {
    ASSERT_NE(Other, nullptr);
    void *Mine = address("counter");
    void *Theirs = nullptr;
    ASSERT_EQ(
        Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Other, "counter", nullptr, &Theirs),
        CL_SUCCESS);
    EXPECT_NE(Mine, Theirs);
    writeDevice<int>(Mine, 1000);
    runNamed(Other, "set_counter", 1, 1, 2);
    EXPECT_EQ(readDevice<int>(Mine), 1000);
    std::vector<cl_long> Values = readThroughKernel(Other);
    EXPECT_EQ(Values[0], 2);
    EXPECT_EQ(Values[2], 40); // an initial value
    clReleaseProgram(Other);
  }
}

TEST_F(ProgramGlobalsTest, AddressQueryErrors) {
  void *Ptr = nullptr;
  size_t Size = 0;
  EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Program, "no_such_variable", &Size,
                                                   &Ptr),
            CL_INVALID_ARG_VALUE);
  EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, nullptr, "counter", &Size, &Ptr),
            CL_INVALID_PROGRAM);
  EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Program, "counter", &Size, nullptr),
            CL_INVALID_VALUE);
  cl_program Unbuilt = createFromKernel(Env, "program_globals.spv");
  EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Unbuilt, "counter", &Size, &Ptr),
            CL_INVALID_PROGRAM_EXECUTABLE);
  clReleaseProgram(Unbuilt);
  const char *Source = "kernel void k(void) {}";
  cl_int Error = CL_SUCCESS;
  cl_program Driver = clCreateProgramWithSource(Env.Context, 1, &Source, nullptr, &Error);
  EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Driver, "counter", &Size, &Ptr),
            CL_INVALID_PROGRAM);
  clReleaseProgram(Driver);
}

TEST_F(ProgramGlobalsTest, KernelsKeepTheirProgramAlive) {
  cl_program Short = buildKernelProgram(Env, "program_globals.spv");
  ASSERT_NE(Short, nullptr);
  cl_int Error = CL_SUCCESS;
  cl_kernel Set = clCreateKernel(Short, "set_counter", &Error);
  ASSERT_EQ(Error, CL_SUCCESS);
  void *Counter = nullptr;
  Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Short, "counter", nullptr, &Counter);
  EXPECT_EQ(clReleaseProgram(Short), CL_SUCCESS);
  int Value = 9;
  clSetKernelArg(Set, 0, sizeof(Value), &Value);
  EXPECT_EQ(runKernel(Env, Set, 1, 1), CL_SUCCESS);
  EXPECT_EQ(readDevice<int>(Counter), 9);
  EXPECT_EQ(clReleaseKernel(Set), CL_SUCCESS); // the last reference: the program goes
}

// Modules whose variables cannot be placed: function pointers come with an extension the
// validator does not know (pointers to function types), so they never reach the translator; a
// type whose size wraps in 64 bits, and a variable over the size the device answers, are refused
// before any memory is allocated or written.
TEST_F(ProgramGlobalsTest, ModulesWhoseVariablesCannotBePlacedFailWithALog) {
  size_t MaxSize = 0;
  ASSERT_EQ(clGetDeviceInfo(Env.Device, CL_DEVICE_MAX_GLOBAL_VARIABLE_SIZE, sizeof(MaxSize),
                            &MaxSize, nullptr),
            CL_SUCCESS);
  EXPECT_GE(MaxSize, 64u << 10); // the least a device with program-scope variables offers
  EXPECT_LT(MaxSize, 1u << 30);  // below the huge variable's size
  const struct {
    const char *File, *Variable;
    std::string Reason;
  } Cases[] = {
      {"function_table.spv", "table", "error: SPIR-V validation failed: "},
      {"wrapped_size.spv", "wrapped",
       "error: global 'wrapped' needs more than the " + std::to_string(MaxSize)},
      {"huge_variable.spv", "huge", "error: global 'huge' needs 1073741824 bytes, more than the " +
                                        std::to_string(MaxSize)},
  };
  for (const auto &Case : Cases) {
    cl_program Program = createFromKernel(Env, Case.File);
    ASSERT_NE(Program, nullptr) << Case.File;
    EXPECT_EQ(clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr),
              CL_BUILD_PROGRAM_FAILURE)
        << Case.File;
    EXPECT_NE(programBuildLog(Program, Env.Device).find(Case.Reason), std::string::npos)
        << Case.File << ": " << programBuildLog(Program, Env.Device);
    void *Entry = nullptr;
    EXPECT_EQ(Env.Usm.GetDeviceGlobalVariablePointer(Env.Device, Program, Case.Variable, nullptr,
                                                     &Entry),
              CL_INVALID_PROGRAM_EXECUTABLE)
        << Case.File;
    clReleaseProgram(Program);
  }
}

} // namespace
