// Programs built from module manifests, kernels, launches running test bodies, and globals.
#include "child_process.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace fakecl_test;

namespace {

// A module as a test image carries it: a SPIR-V-like header, then the manifest.
std::string module(const std::string &Manifest) {
  std::string Bytes("\x03\x02\x23\x07", 4);
  Bytes += std::string(16, '\0');
  return Bytes + "FAKECL-MODULE\n" + Manifest;
}

cl_program fromIL(const DriverSetup &S, const std::string &Bytes, cl_int *Err = nullptr) {
  return clCreateProgramWithIL(S.Context, Bytes.data(), Bytes.size(), Err);
}

std::string buildLog(cl_program P, cl_device_id D) {
  size_t Size = 0;
  EXPECT_EQ(clGetProgramBuildInfo(P, D, CL_PROGRAM_BUILD_LOG, 0, nullptr, &Size), CL_SUCCESS);
  std::string Log(Size, '\0');
  EXPECT_EQ(clGetProgramBuildInfo(P, D, CL_PROGRAM_BUILD_LOG, Size, &Log[0], nullptr), CL_SUCCESS);
  return Log.c_str();
}

TEST(FakeclProgram, BuildThenKernelsByName) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    cl_int Err = 1;
    cl_program P = fromIL(S, module("kernel alpha args=2\nkernel beta\n"), &Err);
    ASSERT_EQ(Err, CL_SUCCESS);
    EXPECT_EQ(clCreateKernel(P, "alpha", &Err), nullptr);
    EXPECT_EQ(Err, CL_INVALID_PROGRAM_EXECUTABLE);
    ASSERT_EQ(clBuildProgram(P, 0, nullptr, "-O2 -x", nullptr, nullptr), CL_SUCCESS);
    EXPECT_NE(Fake.calls("clBuildProgram")[0].find("\"-O2 -x\""), std::string::npos);
    cl_kernel K = clCreateKernel(P, "alpha", &Err);
    ASSERT_EQ(Err, CL_SUCCESS);
    EXPECT_EQ(clCreateKernel(P, "gamma", &Err), nullptr);
    EXPECT_EQ(Err, CL_INVALID_KERNEL_NAME);
    char Name[16];
    EXPECT_EQ(clGetKernelInfo(K, CL_KERNEL_FUNCTION_NAME, sizeof(Name), Name, nullptr), CL_SUCCESS);
    EXPECT_STREQ(Name, "alpha");
    cl_uint NumArgs = 0;
    EXPECT_EQ(clGetKernelInfo(K, CL_KERNEL_NUM_ARGS, sizeof(NumArgs), &NumArgs, nullptr), CL_SUCCESS);
    EXPECT_EQ(NumArgs, 2u);
    // A kernel holds its program: releasing the program first keeps it alive.
    EXPECT_EQ(clReleaseProgram(P), CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects("program"), 1u);
    EXPECT_EQ(clReleaseKernel(K), CL_SUCCESS);
    EXPECT_EQ(Fake.liveObjects("program") + Fake.liveObjects("kernel"), 0u);
  });
}

TEST(FakeclProgram, BuildFailuresCarryTheirLog) {
  runWithDriver("build-log \"global log\"\nfail clBuildProgram nth=2 err=-11", [](fakecl::Client &) {
    DriverSetup S;
    cl_program Bad = fromIL(S, module("build-fail\nlog \"undefined symbol foo\"\n"));
    EXPECT_EQ(clBuildProgram(Bad, 0, nullptr, "", nullptr, nullptr), CL_BUILD_PROGRAM_FAILURE);
    EXPECT_EQ(buildLog(Bad, S.Device), "global log\nundefined symbol foo");
    cl_build_status Status = 0;
    EXPECT_EQ(clGetProgramBuildInfo(Bad, S.Device, CL_PROGRAM_BUILD_STATUS, sizeof(Status), &Status, nullptr),
              CL_SUCCESS);
    EXPECT_EQ(Status, CL_BUILD_ERROR);
    cl_program Good = fromIL(S, module("kernel k\n"));
    EXPECT_EQ(clBuildProgram(Good, 0, nullptr, "", nullptr, nullptr), -11);
    EXPECT_EQ(clBuildProgram(Good, 0, nullptr, "", nullptr, nullptr), CL_SUCCESS);
    clReleaseProgram(Bad);
    clReleaseProgram(Good);
  });
}

TEST(FakeclProgram, CompileAndLinkJoinModules) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    cl_program A = fromIL(S, module("kernel main_kernel\n"));
    cl_program B = fromIL(S, module("global lib_value 4 init=2a000000\n"));
    cl_program Both[] = {A, B};
    cl_int Err = 0;
    EXPECT_EQ(clLinkProgram(S.Context, 0, nullptr, "", 2, Both, nullptr, nullptr, &Err), nullptr);
    EXPECT_EQ(Err, CL_INVALID_OPERATION); // not compiled yet
    for (cl_program P : Both)
      ASSERT_EQ(clCompileProgram(P, 0, nullptr, "-c", 0, nullptr, nullptr, nullptr, nullptr), CL_SUCCESS);
    cl_program Linked = clLinkProgram(S.Context, 1, &S.Device, "-l", 2, Both, nullptr, nullptr, &Err);
    ASSERT_EQ(Err, CL_SUCCESS);
    cl_kernel K = clCreateKernel(Linked, "main_kernel", &Err);
    EXPECT_EQ(Err, CL_SUCCESS);
    using GlobalFn = cl_int (*)(cl_device_id, cl_program, const char *, size_t *, void **);
    auto Global = S.fn<GlobalFn>("clGetDeviceGlobalVariablePointerTARNO");
    void *Ptr = nullptr;
    size_t Size = 0;
    ASSERT_EQ(Global(S.Device, Linked, "lib_value", &Size, &Ptr), CL_SUCCESS);
    EXPECT_EQ(Size, 4u);
    EXPECT_EQ(*static_cast<int *>(Ptr), 42);
    EXPECT_EQ(Fake.findGlobal("lib_value"), Ptr);
    EXPECT_EQ(Global(S.Device, Linked, "missing", &Size, &Ptr), CL_INVALID_ARG_VALUE);
    EXPECT_EQ(Global(S.Device, A, "lib_value", &Size, &Ptr), CL_INVALID_PROGRAM_EXECUTABLE);
    clReleaseKernel(K);
    for (cl_program P : {A, B, Linked})
      clReleaseProgram(P);
    EXPECT_EQ(Fake.liveObjects("program"), 0u);
    EXPECT_EQ(Fake.findGlobal("lib_value"), nullptr);
  });
}

TEST(FakeclProgram, OffloadEntriesBecomeADeviceTable) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    cl_program P = fromIL(S, module("global counter 8\nentry counter size=8 global=counter\n"
                                    "entry kernel_a\nentry fn_b flags=8 address=0x1234 namesize=3\n"));
    ASSERT_EQ(clBuildProgram(P, 0, nullptr, "", nullptr, nullptr), CL_SUCCESS);
    size_t Size = 0;
    auto *TableSize = static_cast<cl_ulong *>(Fake.findGlobal("__omp_offloading_entries_table_size", &Size));
    ASSERT_NE(TableSize, nullptr);
    EXPECT_EQ(*TableSize, 120u);
    auto *Table = static_cast<unsigned char *>(Fake.findGlobal("__omp_offloading_entries_table", &Size));
    ASSERT_EQ(Size, 120u);
    struct Record {
      void *Address;
      const char *Name;
      cl_ulong Size;
      cl_uint Flags, Reserved;
      cl_ulong NameSize;
    };
    static_assert(sizeof(Record) == 40, "the device table record is 40 bytes");
    Record R[3];
    std::memcpy(R, Table, sizeof(R));
    EXPECT_EQ(R[0].Address, Fake.findGlobal("counter"));
    EXPECT_STREQ(R[0].Name, "counter");
    EXPECT_EQ(R[0].Size, 8u);
    EXPECT_EQ(R[0].NameSize, 8u);
    EXPECT_STREQ(R[1].Name, "kernel_a");
    EXPECT_EQ(R[2].Address, reinterpret_cast<void *>(0x1234));
    EXPECT_EQ(R[2].Flags, 8u);
    EXPECT_EQ(R[2].NameSize, 3u);
    clReleaseProgram(P);
  });
}

TEST(FakeclProgram, BinariesAndSpecializationConstants) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    std::string Bin = module("kernel from_binary\n");
    const unsigned char *Bytes = reinterpret_cast<const unsigned char *>(Bin.data());
    size_t Length = Bin.size();
    cl_int Status = 1, Err = 1;
    cl_program P = clCreateProgramWithBinary(S.Context, 1, &S.Device, &Length, &Bytes, &Status, &Err);
    ASSERT_EQ(Err, CL_SUCCESS);
    EXPECT_EQ(Status, CL_SUCCESS);
    using SpecFn = cl_int (*)(cl_program, cl_uint, size_t, const void *);
    auto Spec = S.fn<SpecFn>("clSetProgramSpecializationConstant");
    unsigned char One = 1;
    EXPECT_EQ(Spec(P, 0xFF747469, 1, &One), CL_INVALID_PROGRAM);
    cl_program IL = fromIL(S, module("kernel k\n"));
    EXPECT_EQ(Spec(IL, 0xFF747469, 1, &One), CL_SUCCESS);
    EXPECT_NE(Fake.calls("clSetProgramSpecializationConstant")[1].find("0xff747469, 1, 0x"), std::string::npos);
    ASSERT_EQ(clBuildProgram(P, 0, nullptr, "", nullptr, nullptr), CL_SUCCESS);
    cl_kernel K = clCreateKernel(P, "from_binary", &Err);
    EXPECT_EQ(Err, CL_SUCCESS);
    clReleaseKernel(K);
    clReleaseProgram(P);
    clReleaseProgram(IL);
  });
}

TEST(FakeclKernel, QueriesHaveScriptableAnswers) {
  runWithDriver("kernelinfo tuned 0x11B0 size 64\nkernelinfo broken 0x2033 fail -45", [](fakecl::Client &) {
    DriverSetup S;
    cl_program P = fromIL(S, module("kernel plain\nkernel tuned pwgm=32 maxsg=8 argtypes=int*,float "
                                    "argnames=out,scale\nkernel broken\n"));
    ASSERT_EQ(clBuildProgram(P, 0, nullptr, "", nullptr, nullptr), CL_SUCCESS);
    cl_kernel Plain = clCreateKernel(P, "plain", nullptr), Tuned = clCreateKernel(P, "tuned", nullptr),
              Broken = clCreateKernel(P, "broken", nullptr);
    auto WorkGroup = [&](cl_kernel K, cl_uint Param) {
      size_t V = 0;
      EXPECT_EQ(clGetKernelWorkGroupInfo(K, S.Device, Param, sizeof(V), &V, nullptr), CL_SUCCESS);
      return V;
    };
    EXPECT_EQ(WorkGroup(Plain, CL_KERNEL_WORK_GROUP_SIZE), 256u);
    EXPECT_EQ(WorkGroup(Plain, CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE), 16u);
    EXPECT_EQ(WorkGroup(Tuned, CL_KERNEL_WORK_GROUP_SIZE), 64u);
    EXPECT_EQ(WorkGroup(Tuned, CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE), 32u);
    size_t SubGroup = 0, In = 0;
    EXPECT_EQ(clGetKernelSubGroupInfo(Tuned, S.Device, CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE, sizeof(In), &In,
                                      sizeof(SubGroup), &SubGroup, nullptr),
              CL_SUCCESS);
    EXPECT_EQ(SubGroup, 8u);
    EXPECT_EQ(clGetKernelSubGroupInfo(Broken, S.Device, CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE, sizeof(In), &In,
                                      sizeof(SubGroup), &SubGroup, nullptr),
              -45);
    char Text[16];
    EXPECT_EQ(clGetKernelArgInfo(Tuned, 1, CL_KERNEL_ARG_TYPE_NAME, sizeof(Text), Text, nullptr), CL_SUCCESS);
    EXPECT_STREQ(Text, "float");
    EXPECT_EQ(clGetKernelArgInfo(Tuned, 0, CL_KERNEL_ARG_NAME, sizeof(Text), Text, nullptr), CL_SUCCESS);
    EXPECT_STREQ(Text, "out");
    EXPECT_EQ(clGetKernelArgInfo(Tuned, 2, CL_KERNEL_ARG_NAME, sizeof(Text), Text, nullptr), CL_INVALID_ARG_INDEX);
    for (cl_kernel K : {Plain, Tuned, Broken})
      clReleaseKernel(K);
    clReleaseProgram(P);
  });
}

struct Seen {
  int Launches = 0;
  fakecl_launch Last{};
  std::string KernelName; // the launch's own name lives only as long as the launch
  long long Scalar = 0;
  void *Pointer = nullptr;
  std::vector<void *> Indirect;
};

void recordingBody(const fakecl_launch *L, void *User) {
  auto *S = static_cast<Seen *>(User);
  ++S->Launches;
  S->Last = *L;
  S->KernelName = L->kernel_name;
  std::memcpy(&S->Scalar, L->args[0].value, sizeof(S->Scalar));
  S->Pointer = L->args[1].pointer;
  S->Indirect.assign(L->indirect_pointers, L->indirect_pointers + L->num_indirect_pointers);
  // The body acts on device memory like a kernel would.
  static_cast<long long *>(S->Pointer)[0] = S->Scalar * 2;
}

TEST(FakeclKernel, LaunchRunsTheBodyWithItsArgumentsAndExecInfo) {
  runWithDriver("", [](fakecl::Client &Fake) {
    DriverSetup S;
    cl_program P = fromIL(S, module("kernel body args=2\n"));
    ASSERT_EQ(clBuildProgram(P, 0, nullptr, "", nullptr, nullptr), CL_SUCCESS);
    cl_kernel K = clCreateKernel(P, "body", nullptr);
    Seen Record;
    Fake.setKernelBody("body", recordingBody, &Record);
    size_t Global[3] = {64, 2, 1}, Local[3] = {16, 2, 1};
    cl_event E = nullptr;
    EXPECT_EQ(clEnqueueNDRangeKernel(S.Queue, K, 3, nullptr, Global, Local, 0, nullptr, &E), CL_INVALID_KERNEL_ARGS);
    using DeviceAllocFn = void *(*)(cl_context, cl_device_id, const cl_ulong *, size_t, cl_uint, cl_int *);
    using PtrArgFn = cl_int (*)(cl_kernel, cl_uint, const void *);
    auto *Mem = static_cast<long long *>(
        S.fn<DeviceAllocFn>("clDeviceMemAllocTARNO")(S.Context, S.Device, nullptr, 64, 0, nullptr));
    long long Scalar = 21;
    ASSERT_EQ(clSetKernelArg(K, 0, sizeof(Scalar), &Scalar), CL_SUCCESS);
    ASSERT_EQ(S.fn<PtrArgFn>("clSetKernelArgMemPointerTARNO")(K, 1, Mem), CL_SUCCESS);
    EXPECT_EQ(clSetKernelArg(K, 2, sizeof(Scalar), &Scalar), CL_INVALID_ARG_INDEX);
    void *List[] = {Mem, Mem + 1};
    cl_bool True = CL_TRUE;
    ASSERT_EQ(clSetKernelExecInfo(K, 0x4203, sizeof(List), List), CL_SUCCESS);
    ASSERT_EQ(clSetKernelExecInfo(K, 0x4201, sizeof(True), &True), CL_SUCCESS);
    EXPECT_EQ(clSetKernelExecInfo(K, 0x4202, 1, &True), CL_INVALID_VALUE);
    EXPECT_EQ(clSetKernelExecInfo(K, 0x4299, sizeof(True), &True), CL_INVALID_VALUE);
    size_t TooBig[3] = {32, 16, 1};
    EXPECT_EQ(clEnqueueNDRangeKernel(S.Queue, K, 3, nullptr, Global, TooBig, 0, nullptr, nullptr),
              CL_INVALID_WORK_GROUP_SIZE);
    ASSERT_EQ(clEnqueueNDRangeKernel(S.Queue, K, 3, nullptr, Global, Local, 0, nullptr, &E), CL_SUCCESS);
    ASSERT_EQ(clWaitForEvents(1, &E), CL_SUCCESS);
    EXPECT_EQ(Record.Launches, 1);
    EXPECT_EQ(Record.KernelName, "body");
    EXPECT_EQ(Record.Last.global_size[0], 64u);
    EXPECT_EQ(Record.Last.local_size[1], 2u);
    EXPECT_EQ(Record.Scalar, 21);
    EXPECT_EQ(Record.Pointer, Mem);
    EXPECT_EQ(Record.Indirect, std::vector<void *>(List, List + 2));
    EXPECT_EQ(Record.Last.indirect_flags, 2u);
    EXPECT_EQ(Mem[0], 42);
    clReleaseEvent(E);
    clReleaseKernel(K);
    clReleaseProgram(P);
    S.fn<cl_int (*)(cl_context, void *)>("clMemFreeTARNO")(S.Context, Mem);
    EXPECT_EQ(Fake.liveObjects(), 2u);
  });
}

TEST(FakeclKernel, SuggestedLocalSizeDefaultAndScripted) {
  runWithDriver("", [](fakecl::Client &) {
    DriverSetup S;
    cl_program P = fromIL(S, module("kernel free wgsize=64\nkernel fixed suggest=8,4,2\n"));
    ASSERT_EQ(clBuildProgram(P, 0, nullptr, "", nullptr, nullptr), CL_SUCCESS);
    cl_kernel Free = clCreateKernel(P, "free", nullptr), Fixed = clCreateKernel(P, "fixed", nullptr);
    using SuggestFn = cl_int (*)(cl_command_queue, cl_kernel, cl_uint, const size_t *, const size_t *, size_t *);
    auto Suggest = S.fn<SuggestFn>("clGetKernelSuggestedLocalWorkSizeTARNO");
    size_t Global[3] = {96, 6, 5}, Out[3] = {};
    ASSERT_EQ(Suggest(S.Queue, Free, 3, nullptr, Global, Out), CL_SUCCESS);
    EXPECT_EQ(Out[0], 32u);
    EXPECT_EQ(Out[1], 2u);
    EXPECT_EQ(Out[2], 1u);
    ASSERT_EQ(Suggest(S.Queue, Fixed, 3, nullptr, Global, Out), CL_SUCCESS);
    EXPECT_EQ(Out[0] * 100 + Out[1] * 10 + Out[2], 842u);
    clReleaseKernel(Free);
    clReleaseKernel(Fixed);
    clReleaseProgram(P);
  });
}

} // namespace
