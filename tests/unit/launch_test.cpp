// Kernel launches over the fake driver: argument binding, implicit allocations, failures, the
// kernel-arguments record, deleted kernels and the function pointer map.
#include "memory_fake_driver.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace memtest;
using namespace progtest;

namespace {

// Kernel "k" with three arguments and a version-4 info record: argument 0 by value (4 bytes),
// arguments 1 and 2 not, no attributes or limits.
const std::string Module = "kernel k args=3\n"
                           "global k_kernel_info 56 init="
                           "04000000" "03000000"                  // version, arguments
                           "01000000" "04000000"                  // 0: by value, 4 bytes
                           "00000000" "08000000"                  // 1
                           "00000000" "08000000"                  // 2
                           "0000000000000000" "0000000000000000" // attributes, team count
                           "0000000000000000\n"                  // team size
                           "entry k\n"
                           "global __omp_offloading_fptr_map_p 8\n"
                           "global __omp_offloading_fptr_map_size 8\n";

constexpr ptrdiff_t Scalar = INT64_MAX;

// What the kernel body saw, one line per launch, on standard output.
void describeLaunch(const fakecl_launch *L, void *) {
  std::printf("global=%zu,%zu,%zu local=%zu,%zu,%zu", L->global_size[0], L->global_size[1],
              L->global_size[2], L->local_size[0], L->local_size[1], L->local_size[2]);
  for (uint32_t I = 0; I < L->num_args; ++I) {
    const fakecl_kernel_arg &A = L->args[I];
    if (A.kind == FAKECL_ARG_POINTER) {
      std::printf(" ptr:%p", A.pointer);
      continue;
    }
    std::printf(" val%zu:", A.size);
    for (size_t B = 0; B < A.size; ++B)
      std::printf("%02x", static_cast<const unsigned char *>(A.value)[B]);
  }
  std::printf(" implicit=%u:", L->indirect_flags);
  for (uint32_t I = 0; I < L->num_indirect_pointers; ++I)
    std::printf("%s%p", I ? "," : "", L->indirect_pointers[I]);
  std::printf("\n");
}

std::string pointerText(const void *P) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%p", P);
  return Text;
}

// Loads the module on device 0 and runs Body with the region's entry address.
ChildResult withKernel(const EnvironmentList &Env, const std::string &Faults,
                       const std::function<int(HostPlugin &, void *Entry, const fakecl::Client &)> &Body) {
  HostEntries Host;
  Host.add("k");
  return runPlugin(OneGPU, "", Env, [&](HostPlugin &P, const fakecl_control_v1 &) {
    fakecl::Client Fake(FAKECL_PATH);
    Fake.setKernelBody("k", describeLaunch);
    std::vector<uint8_t> Bytes = spirvModule(Module);
    DeviceImage Image = imageOf(Bytes, Host);
    TargetTable *Table = P.load_binary(0, &Image);
    if (!Table)
      return 7;
    Fake.configure(Faults);
    Fake.resetLog();
    return Body(P, Table->EntriesBegin[0].address, Fake);
  });
}

TEST(Launch, BindsArgumentsAndImplicitAllocations) {
  static char Host[64];
  ChildResult R = withKernel({{"LIBOMPTARGET_DEBUG", "1"}}, "",
                             [](HostPlugin &P, void *Entry, const fakecl::Client &Fake) {
    float A = 2.5f; // by value per the record, even with the scalar marker
    void *Args[] = {&A, Host, reinterpret_cast<void *>(0x1234)};
    ptrdiff_t Offsets[] = {Scalar, 16, Scalar};
    int Failed = P.run_target_team_nd_region(0, Entry, Args, Offsets, 3, 2, 8, nullptr);
    size_t ExecInfoCalls = Fake.callCount("clSetKernelExecInfo");
    void *Shared = P.data_alloc(0, 64, nullptr, 2);
    std::printf("shared=%s\n", pointerText(Shared).c_str());
    Failed |= P.run_target_team_nd_region(0, Entry, Args, Offsets, 3, 2, 8, nullptr);
    KernelArgs Record{};
    Record.NumArgs = 3;
    Record.NumTeams[0] = 3;
    Record.ThreadLimit[0] = 16;
    Failed |= P.launch_kernel(0, Entry, Args, Offsets, &Record);
    // Freed again, the allocation leaves the implicit list: no indirect-access calls.
    size_t Before = Fake.callCount("clSetKernelExecInfo");
    Failed |= P.data_delete(0, Shared) != 0 ||
              P.run_target_team_nd_region(0, Entry, Args, Offsets, 3, 2, 8, nullptr) != 0;
    return Failed ? 10 : ExecInfoCalls != 0 ? 11 : Fake.callCount("clSetKernelExecInfo") != Before ? 12 : 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  std::vector<std::string> Out = splitLines(R.Stdout);
  ASSERT_EQ(Out.size(), 5u) << R.Stdout;
  std::string Shared = Out[1].substr(7);
  std::string Bound = " val4:00002040 ptr:" + pointerText(Host + 16) + " val8:3412000000000000";
  EXPECT_EQ(Out[0], "global=16,1,1 local=8,1,1" + Bound + " implicit=0:");
  EXPECT_EQ(Out[2], "global=16,1,1 local=8,1,1" + Bound + " implicit=4:" + Shared);
  EXPECT_EQ(Out[3], "global=48,1,1 local=16,1,1" + Bound + " implicit=4:" + Shared);

  // The first launch's messages, complete and in order.
  std::vector<std::string> Lines = splitLines(R.Stderr);
  // The runtime's "no limit" (2147483647) leaves the sizing alone.
  auto First = std::find(Lines.begin(), Lines.end(),
                         Prefix + "omp_get_thread_limit() returned 2147483647");
  ASSERT_LE(First + 13, Lines.end()) << R.Stderr;
  std::vector<std::string> Launch(First, First + 13);
  std::vector<std::string> Expected = {
      "omp_get_thread_limit() returned 2147483647",
      "omp_get_max_teams() returned 0",
      "Assumed kernel SIMD width is 16",
      "Preferred team size is multiple of 32",
      "Max team size is set to 8 (thread_limit clause)",
      "Max number of teams is set to 2 (num_teams clause or no teams construct)",
      "Team sizes = {8, 1, 1}",
      "Number of teams = {2, 1, 1}",
      "Kernel ByVal Arg 0 set successfully",
      "Kernel Pointer Arg 1 set successfully",
      "Kernel Scalar Arg 2 set successfully",
      "Started executing kernel.",
      "Successfully finished kernel execution."};
  for (std::string &Line : Expected)
    Line = Prefix + Line;
  EXPECT_EQ(Launch, Expected);
}

TEST(Launch, FailingCallsFailTheLaunchAndReleaseTheDevice) {
  struct FailCase {
    const char *Function;
    EnvironmentList Env;
    bool LaunchFails = true;
  };
  const FailCase Cases[] = {
      {"clSetKernelArg", {}},
      {"clSetKernelArgMemPointerTARNO", {}},
      {"clSetKernelExecInfo", {}},
      {"clEnqueueNDRangeKernel", {}},
      {"clWaitForEvents", {}},
      {"clGetKernelInfo", {{"LIBOMPTARGET_PLUGIN_PROFILE", "T"}}},
      // The timeline alone does without the name, silently.
      {"clGetKernelInfo", {{"LIBOMPTARGET_OPENCL_TRACE_FILE", "/dev/null"}}, false},
  };
  for (const FailCase &C : Cases) {
    EnvironmentList Env = C.Env;
    Env.push_back({"LIBOMPTARGET_DEBUG", "1"});
    ChildResult R = withKernel(Env, "", [&C](HostPlugin &P, void *Entry, const fakecl::Client &Fake) {
      void *Shared = P.data_alloc(0, 64, nullptr, 2);
      float A = 1;
      void *Args[] = {&A, Shared, nullptr};
      ptrdiff_t Offsets[] = {Scalar, 0, Scalar};
      Fake.configure(std::string("fail ") + C.Function);
      if (P.run_target_team_nd_region(0, Entry, Args, Offsets, 3, 1, 8, nullptr) !=
          (C.LaunchFails ? -1 : 0))
        return 20;
      // The device mutex was released: a free and another launch go through.
      if (P.run_target_team_nd_region(0, Entry, Args, Offsets, 3, 1, 8, nullptr) != 0 ||
          P.data_delete(0, Shared) != 0)
        return 21;
      return Fake.liveObjects("event") == 0 ? 0 : 22;
    });
    EXPECT_EQ(R.ExitStatus, 0) << C.Function << "\n" << R.Stderr;
    EXPECT_EQ(hasLine(R.Stderr, Prefix + "Error: runTargetTeamNDRegion:" + C.Function +
                                    " failed with error code -5, CL_OUT_OF_RESOURCES"),
              C.LaunchFails)
        << C.Function << "\n" << R.Stderr;
  }
}

TEST(Launch, DeletedKernelsAndBadInput) {
  ChildResult R = withKernel({}, "", [](HostPlugin &P, void *Entry, const fakecl::Client &) {
    void *Null = nullptr;
    int Wrong = P.run_target_team_nd_region(0, &Null, nullptr, nullptr, 0, 0, 0, nullptr) != -1;
    Wrong += P.is_private_arg_on_host(0, &Null, 0) != 0;
    Wrong += P.run_target_team_nd_region(7, Entry, nullptr, nullptr, 0, 0, 0, nullptr) != -1;
    Wrong += P.run_target_team_nd_region(0, Entry, nullptr, nullptr, 3, 0, 0, nullptr) != -1;
    Wrong += P.launch_kernel(0, Entry, nullptr, nullptr, nullptr) != -1;
    Wrong += P.manifest_data_for_region(0, Entry, nullptr, 2) != -1;
    // Argument 0 goes by value; 1 does not; 9 is past the record.
    Wrong += P.is_private_arg_on_host(0, Entry, 0) != 1;
    Wrong += P.is_private_arg_on_host(0, Entry, 1) != 0;
    Wrong += P.is_private_arg_on_host(0, Entry, 9) != 0;
    return Wrong;
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stderr, "OPENCL error: Failed to invoke deleted kernel.\n"
                      "OPENCL error: Querying information about a deleted kernel.\n");
}

TEST(Launch, ManifestedAndFunctionPointerTablesReachTheKernel) {
  ChildResult R = withKernel({{"LIBOMPTARGET_DEBUG", "2"}}, "",
                             [](HostPlugin &P, void *Entry, const fakecl::Client &Fake) {
    uint64_t Pairs[24];
    for (uint64_t I = 0; I < 24; ++I)
      Pairs[I] = 0x1000 + I;
    int Wrong = P.set_function_ptr_map(0, 0, nullptr) != 0;
    Wrong += Fake.callCount("clDeviceMemAllocTARNO") != 0;
    Wrong += P.set_function_ptr_map(0, 12, Pairs) != 0;
    // The newest map is published: its device address and its number of entries.
    Wrong += P.set_function_ptr_map(0, 3, Pairs) != 0;
    void *const *Map = static_cast<void *const *>(Fake.findGlobal("__omp_offloading_fptr_map_p"));
    auto *Count = static_cast<const uint64_t *>(Fake.findGlobal("__omp_offloading_fptr_map_size"));
    Wrong += !Map || !Count || *Count != 3 || std::memcmp(*Map, Pairs, 48) != 0;
    void *Host = std::malloc(64);
    void *Device = P.data_alloc(0, 64, Host, 0); // mapped for a host object: not implicit
    void *Manifest[] = {static_cast<char *>(Device) + 8, nullptr};
    Wrong += P.manifest_data_for_region(0, Entry, Manifest, 2) != 0;
    float A = 1;
    void *Args[] = {&A, Host, nullptr};
    ptrdiff_t Offsets[] = {Scalar, 0, Scalar};
    Wrong += P.run_target_team_nd_region(0, Entry, Args, Offsets, 3, 1, 1, nullptr) != 0;
    Wrong += P.manifest_data_for_region(0, Entry, nullptr, 0) != 0;
    Wrong += P.run_target_team_nd_region(0, Entry, Args, Offsets, 3, 1, 1, nullptr) != 0;
    std::printf("manifested=%s map=%s\n", pointerText(Manifest[0]).c_str(),
                Map ? pointerText(*Map).c_str() : "none");
    // Globals that cannot be written cost only the map (a warning), not the call.
    Fake.configure("fail clGetDeviceGlobalVariablePointerTARNO");
    Wrong += P.set_function_ptr_map(0, 3, Pairs) != 0;
    std::free(Host);
    return Wrong;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  std::vector<std::string> Lines = splitLines(R.Stderr);
  auto Begin = std::find(Lines.begin(), Lines.end(),
                         Prefix + "Transferring function pointers table (12 entries) to the device: {");
  ASSERT_LE(Begin + 13, Lines.end()) << R.Stderr;
  std::vector<std::string> Expected;
  for (int I = 0; I < 10; ++I) {
    char Line[96];
    std::snprintf(Line, sizeof(Line), "\t{ 0x%016x, 0x%016x }", 0x1000 + 2 * I, 0x1001 + 2 * I);
    Expected.push_back(Prefix + Line);
  }
  Expected.push_back(Prefix + "\t... increase LIBOMPTARGET_DEBUG to see more entries ...");
  Expected.push_back(Prefix + "}");
  EXPECT_EQ(std::vector<std::string>(Begin + 1, Begin + 13), Expected);

  // Both maps are implicit device allocations of every later launch, after the manifested
  // pointer while it is manifested.
  std::vector<std::string> Out = splitLines(R.Stdout);
  ASSERT_EQ(Out.size(), 3u) << R.Stdout;
  std::string Manifested = Out[2].substr(11, Out[2].find(' ') - 11);
  std::string Map = Out[2].substr(Out[2].find(" map=") + 5);
  auto ImplicitOf = [](const std::string &Line) { return Line.substr(Line.find(" implicit=")); };
  EXPECT_EQ(ImplicitOf(Out[0]).rfind(" implicit=2:" + Manifested + ",", 0), 0u) << Out[0];
  EXPECT_EQ(ImplicitOf(Out[1]).rfind(" implicit=2:", 0), 0u) << Out[1];
  for (const std::string &Line : {Out[0], Out[1]})
    EXPECT_NE(ImplicitOf(Line).find(Map), std::string::npos) << Line;
  for (size_t I = 0; I < 2; ++I) {
    std::string Implicit = ImplicitOf(Out[I]);
    EXPECT_EQ(std::count(Implicit.begin(), Implicit.end(), ','), 2 - long(I)) << Out[I];
  }
}

} // namespace
