// omptarget-cc's rewrites of clang-22's device code, each over inputs shaped like what the
// compiler writes, compared with the complete expected text.
#include "device_ir.h"
#include "kernel_records.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Case {
  const char *Name;
  std::function<std::string(const std::string &)> Rewrite;
  const char *Input;
  const char *Expected;
};

std::string moved(const std::string &IR) { return moveToGlobalSpace(IR, defaultSpaceGlobals(IR)); }

const Case Cases[] = {
    {"globals in the default space move, uses are cast back, others stay", moved,
     "@g = protected global i32 1, align 4\n"
     "@g2 = addrspace(1) global i32 0\n"
     "@\"a b\" = internal constant [2 x ptr] [ptr @g, ptr @g2]\n"
     "@llvm.used = appending global [1 x ptr] [ptr @g]\n"
     "@f = alias i32, ptr @g\n"
     "  %1 = load i32, ptr @g, align 4\n"
     "  %2 = icmp eq ptr %p, @\"a b\"\n",
     "@g = protected addrspace(1) global i32 1, align 4\n"
     "@g2 = addrspace(1) global i32 0\n"
     "@\"a b\" = internal addrspace(1) constant [2 x ptr] [ptr addrspacecast (ptr addrspace(1) @g "
     "to ptr), ptr @g2]\n"
     "@llvm.used = appending global [1 x ptr] [ptr addrspacecast (ptr addrspace(1) @g to ptr)]\n"
     "@f = alias i32, ptr addrspacecast (ptr addrspace(1) @g to ptr)\n"
     "  %1 = load i32, ptr addrspacecast (ptr addrspace(1) @g to ptr), align 4\n"
     "  %2 = icmp eq ptr %p, addrspacecast (ptr addrspace(1) @\"a b\" to ptr)\n"},
    {"floating-point atomics become runtime calls, integer ones stay", lowerFloatAtomics,
     "  %5 = atomicrmw fadd ptr %p, float 1.000000e+00 monotonic, align 4\n"
     "  %x.y = atomicrmw volatile fmax ptr addrspace(3) %q, double %v syncscope(\"device\") "
     "seq_cst, align 8\n"
     "  %6 = atomicrmw add ptr %p, i32 1 monotonic, align 4\n",
     "  %5 = call spir_func float @__devrt_atomic_fadd_float_p0(ptr %p, float 1.000000e+00)\n"
     "  %x.y = call spir_func double @__devrt_atomic_fmax_double_p3(ptr addrspace(3) %q, double "
     "%v)\n"
     "  %6 = atomicrmw add ptr %p, i32 1 monotonic, align 4\n"
     "declare spir_func double @__devrt_atomic_fmax_double_p3(ptr addrspace(3), double)\n"
     "declare spir_func float @__devrt_atomic_fadd_float_p0(ptr, float)\n"},
    {"tasks start with the entry they were made with, per function", bindTaskEntries,
     "define void @k() {\n"
     "  %7 = call spir_func ptr @__kmpc_omp_task_alloc(ptr @1, i32 %2, i32 1, i64 40, i64 8, ptr "
     "@\"_omp_task_entry$\")\n"
     "  %8 = call spir_func i32 @__kmpc_omp_task(ptr @1, i32 %2, ptr %7)\n"
     "  %9 = call spir_func i32 @__kmpc_omp_task_with_deps(ptr @1, i32 %2, ptr %7, i32 1, ptr %d, "
     "i32 0, ptr null)\n"
     "define void @other() {\n"
     "  %8 = call spir_func i32 @__kmpc_omp_task(ptr @1, i32 %2, ptr %7)\n",
     "define void @k() {\n"
     "  %7 = call spir_func ptr @__kmpc_omp_task_alloc(ptr @1, i32 %2, i32 1, i64 40, i64 8, ptr "
     "@\"_omp_task_entry$\")\n"
     "  %8 = call spir_func i32 @__devrt_omp_task_entry(ptr @1, i32 %2, ptr %7, ptr "
     "@\"_omp_task_entry$\")\n"
     "  %9 = call spir_func i32 @__devrt_omp_task_with_deps_entry(ptr @1, i32 %2, ptr %7, i32 1, "
     "ptr %d, i32 0, ptr null, ptr @\"_omp_task_entry$\")\n"
     "define void @other() {\n"
     "  %8 = call spir_func i32 @__kmpc_omp_task(ptr @1, i32 %2, ptr %7)\n"
     "declare i32 @__devrt_omp_task_entry(ptr, i32, ptr, ptr)\n"
     "declare i32 @__devrt_omp_task_with_deps_entry(ptr, i32, ptr, i32, ptr, i32, ptr, ptr)\n"},
    {"printf formats used only as formats go to the constant space",
     [](const std::string &IR) {
       std::vector<std::string> Formats;
       std::string Out = constantPrintfFormats(IR, Formats);
       return Out + "formats:" + (Formats.size() == 1 ? Formats[0] : "?") + "\n";
     },
     "@.str = private unnamed_addr addrspace(1) constant [3 x i8] c\"%d\\00\", align 1\n"
     "@.str.1 = private unnamed_addr constant [3 x i8] c\"%s\\00\", align 1\n"
     "  %1 = call i32 (ptr, ...) @printf(ptr noundef addrspacecast (ptr addrspace(1) @.str to "
     "ptr), i32 %x)\n"
     "  %2 = call i32 (ptr, ...) @printf(ptr noundef @.str.1, ptr @.str.1)\n"
     "declare i32 @printf(ptr noundef, ...)\n",
     "@.str = private unnamed_addr addrspace(2) constant [3 x i8] c\"%d\\00\", align 1\n"
     "@.str.1 = private unnamed_addr constant [3 x i8] c\"%s\\00\", align 1\n"
     "  %1 = call i32 (ptr addrspace(2), ...) @printf(ptr addrspace(2) noundef @.str, i32 %x)\n"
     "  %2 = call i32 (ptr, ...) @printf(ptr noundef @.str.1, ptr @.str.1)\n"
     "declare i32 @printf(ptr addrspace(2) noundef, ...)\n"
     "formats:.str\n"},
    {"default distribute schedules of SPMD kernels become blocks; their kernels are listed",
     [](const std::string &IR) {
       std::vector<std::string> Kernels;
       std::string Out = defaultDistributeUnchunked(IR, Kernels);
       for (const std::string &K : Kernels)
         Out += "kernel:" + K + "\n";
       return Out;
     },
     "@k_l4_kernel_environment = weak_odr protected addrspace(1) constant "
     "%struct.KernelEnvironmentTy { %struct.ConfigurationEnvironmentTy { i8 0, i8 1, i8 2, i32 1 } }\n"
     "@k_l45_kernel_environment = weak_odr protected addrspace(1) constant "
     "%struct.KernelEnvironmentTy { %struct.ConfigurationEnvironmentTy { i8 1, i8 1, i8 1, i32 1 } }\n"
     "define internal void @k_l4_omp_outlined(ptr %a) {\n"
     "  %5 = call i32 @__kmpc_get_hardware_num_threads_in_block()\n"
     "  %6 = sext i32 %5 to i64\n"
     "  call spir_func void @__kmpc_distribute_static_init_8(ptr @2, i32 %1, i32 91, ptr %l, ptr "
     "%lb, ptr %ub, ptr %st, i64 1, i64 %6)\n"
     "  call spir_func void @__kmpc_distribute_static_init_4(ptr @2, i32 %1, i32 91, ptr %l, ptr "
     "%lb, ptr %ub, ptr %st, i32 1, i32 256)\n"
     "define internal void @k_l45_omp_outlined(ptr %a) {\n"
     "  %5 = call i32 @__kmpc_get_hardware_num_threads_in_block()\n"
     "  call spir_func void @__kmpc_distribute_static_init_4(ptr @2, i32 %1, i32 91, ptr %l, ptr "
     "%lb, ptr %ub, ptr %st, i32 1, i32 %5)\n",
     "@k_l4_kernel_environment = weak_odr protected addrspace(1) constant "
     "%struct.KernelEnvironmentTy { %struct.ConfigurationEnvironmentTy { i8 0, i8 1, i8 2, i32 1 } }\n"
     "@k_l45_kernel_environment = weak_odr protected addrspace(1) constant "
     "%struct.KernelEnvironmentTy { %struct.ConfigurationEnvironmentTy { i8 1, i8 1, i8 1, i32 1 } }\n"
     "define internal void @k_l4_omp_outlined(ptr %a) {\n"
     "  %5 = call i32 @__kmpc_get_hardware_num_threads_in_block()\n"
     "  %6 = sext i32 %5 to i64\n"
     "  call spir_func void @__kmpc_distribute_static_init_8(ptr @2, i32 %1, i32 92, ptr %l, ptr "
     "%lb, ptr %ub, ptr %st, i64 1, i64 %6)\n"
     "  call spir_func void @__kmpc_distribute_static_init_4(ptr @2, i32 %1, i32 91, ptr %l, ptr "
     "%lb, ptr %ub, ptr %st, i32 1, i32 256)\n"
     "define internal void @k_l45_omp_outlined(ptr %a) {\n"
     "  %5 = call i32 @__kmpc_get_hardware_num_threads_in_block()\n"
     "  call spir_func void @__kmpc_distribute_static_init_4(ptr @2, i32 %1, i32 91, ptr %l, ptr "
     "%lb, ptr %ub, ptr %st, i32 1, i32 %5)\n"
     "kernel:k_l4\n"},
    {"kernel info records for the listed kernels: argument sizes, teams of one work-item",
     [](const std::string &IR) { return kernelInfoIR(IR, {"k_l4"}); },
     "define weak_odr protected spir_kernel void @k_l4(ptr addrspace(1) noalias noundef %0, i64 "
     "noundef %1, i32 %2) #0 {\n"
     "define weak_odr protected spir_kernel void @k_l9(ptr addrspace(1) noalias noundef %0) #0 {\n",
     "\n@k_l4_kernel_info = addrspace(1) constant { i32, i32, [3 x [2 x i32]], i64, i32, i32, "
     "i32, i32 } { i32 5, i32 3, [3 x [2 x i32]] [[2 x i32] [i32 0, i32 8], [2 x i32] [i32 0, "
     "i32 8], [2 x i32] [i32 0, i32 4]], i64 0, i32 0, i32 0, i32 1, i32 0 }, align 8\n"},
    {"no team stack without its allocator", settleTeamStackUse,
     "; x\n@__devrt_uses_team_stack = internal addrspace(1) constant i8 1, align 1\n"
     "define internal void @__kmpc_alloc_shared_user() {\n",
     "; x\n@__devrt_uses_team_stack = internal addrspace(1) constant i8 0, align 1\n"
     "define internal void @__kmpc_alloc_shared_user() {\n"},
    {"the team stack stays where its allocator is linked in", settleTeamStackUse,
     "; x\n@__devrt_uses_team_stack = internal addrspace(1) constant i8 1, align 1\n"
     "define internal ptr @devrtSharedAlloc(i64 %0) {\n",
     "; x\n@__devrt_uses_team_stack = internal addrspace(1) constant i8 1, align 1\n"
     "define internal ptr @devrtSharedAlloc(i64 %0) {\n"},
    {"the program data record is external again; other internal variables stay", exportProgramData,
     "@x = internal global i32 0\n"
     "@__omp_spirv_program_data = internal local_unnamed_addr addrspace(1) global %struct.P "
     "zeroinitializer\n",
     "@x = internal global i32 0\n"
     "@__omp_spirv_program_data = local_unnamed_addr addrspace(1) global %struct.P "
     "zeroinitializer\n"},
    {"one calling convention", unifyCallingConventions,
     "define internal spir_func void @f() {\n  tail call spir_func void @g()\n",
     "define internal void @f() {\n  tail call void @g()\n"},
    {"function addresses are not stored; other stores stay", dropFunctionAddressStores,
     "define internal i32 @entry(i32 %0) {\n"
     "  store ptr @entry, ptr %5, align 8\n"
     "  store ptr @data, ptr %5, align 8\n"
     "  store ptr %entry, ptr %5, align 8\n",
     "define internal i32 @entry(i32 %0) {\n"
     "  store ptr @data, ptr %5, align 8\n"
     "  store ptr %entry, ptr %5, align 8\n"},
    {"everything always inline", inlineEverything,
     "attributes #0 = { noinline nounwind optnone \"kernel\" }\n"
     "attributes #1 = { alwaysinline }\n",
     "attributes #0 = { alwaysinline \"no-builtins\" nounwind \"kernel\" }\n"
     "attributes #1 = { alwaysinline \"no-builtins\" }\n"},
    {"overflow intrinsics become plain arithmetic", lowerOverflowIntrinsics,
     "  %r = call { i64, i1 } @llvm.uadd.with.overflow.i64(i64 %a, i64 1)\n"
     "declare { i64, i1 } @llvm.uadd.with.overflow.i64(i64, i64)\n"
     "declare { i32, i1 } @llvm.ssub.with.overflow.i32(i32, i32)\n",
     "  %r = call { i64, i1 } @__devrt.uadd.with.overflow.i64(i64 %a, i64 1)\n"
     "define internal { i64, i1 } @__devrt.uadd.with.overflow.i64(i64 %a, i64 %b) {\n"
     "  %s = add i64 %a, %b\n  %c = icmp ult i64 %s, %a\n"
     "  %r0 = insertvalue { i64, i1 } poison, i64 %s, 0\n"
     "  %r = insertvalue { i64, i1 } %r0, i1 %c, 1\n  ret { i64, i1 } %r\n}\n"
     "define internal { i32, i1 } @__devrt.ssub.with.overflow.i32(i32 %a, i32 %b) {\n"
     "  %s = sub i32 %a, %b\n  %x = xor i32 %a, %b\n  %y = xor i32 %a, %s\n"
     "  %z = and i32 %x, %y\n  %c = icmp slt i32 %z, 0\n"
     "  %r0 = insertvalue { i32, i1 } poison, i32 %s, 0\n"
     "  %r = insertvalue { i32, i1 } %r0, i1 %c, 1\n  ret { i32, i1 } %r\n}\n"},
    {"the offload table: variables the device defines and regions, sorted by name",
     [](const std::string &) {
       return offloadTableIR({{"zeta", 8, 0}, {"region_l3", 0, 0}, {"fn", 0, 8}, {"absent", 4, 0},
                              {"\"q\"", 4, 0}},
                             {"zeta", "\"q\""});
     },
     "",
     "\n%__omp_offloading_table_entry.0 = type { ptr addrspace(1), ptr addrspace(1), i64, i32, "
     "i32, i64 }\n"
     "%__omp_offloading_table_entry.1 = type { ptr addrspace(1), ptr addrspace(1), i64, i32, "
     "i32, i64 }\n"
     "%__omp_offloading_table_entry.2 = type { ptr addrspace(1), ptr addrspace(1), i64, i32, "
     "i32, i64 }\n"
     "@__omp_offloading_table_name.0 = internal addrspace(1) constant [4 x i8] c\"\\22q\\22\\00\"\n"
     "@__omp_offloading_table_name.1 = internal addrspace(1) constant [10 x i8] "
     "c\"region_l3\\00\"\n"
     "@__omp_offloading_table_name.2 = internal addrspace(1) constant [5 x i8] c\"zeta\\00\"\n"
     "@__omp_offloading_entries_table = addrspace(1) global { %__omp_offloading_table_entry.0, "
     "%__omp_offloading_table_entry.1, %__omp_offloading_table_entry.2 } { "
     "%__omp_offloading_table_entry.0 { ptr addrspace(1) @\"\\22q\\22\", ptr addrspace(1) "
     "@__omp_offloading_table_name.0, i64 4, i32 0, i32 0, i64 4 }, "
     "%__omp_offloading_table_entry.1 { ptr addrspace(1) null, ptr addrspace(1) "
     "@__omp_offloading_table_name.1, i64 0, i32 0, i32 0, i64 10 }, "
     "%__omp_offloading_table_entry.2 { ptr addrspace(1) @zeta, ptr addrspace(1) "
     "@__omp_offloading_table_name.2, i64 8, i32 0, i32 0, i64 5 } }, align 8\n"
     "@__omp_offloading_entries_table_size = addrspace(1) global i64 120, align 8\n"},
};

class Rewrites : public testing::TestWithParam<Case> {};

TEST_P(Rewrites, GiveTheExpectedText) {
  const Case &C = GetParam();
  EXPECT_EQ(C.Rewrite(C.Input), C.Expected) << C.Name;
}

INSTANTIATE_TEST_SUITE_P(DeviceCode, Rewrites, testing::ValuesIn(Cases));

// The host IR's offload entries as the compiler writes them: names through their string
// variables (escapes decoded), sizes and flags.
TEST(HostEntries, ReadFromTheHostIR) {
  const char *HostIR =
      "@.offloading.entry_name = internal unnamed_addr constant [4 x i8] c\"arr\\00\", section "
      "\".llvm.rodata.offloading\", align 1\n"
      "@.offloading.entry.arr = weak constant %struct.__tgt_offload_entry { i64 0, i16 1, i16 1, "
      "i32 0, ptr @arr, ptr @.offloading.entry_name, i64 80, i64 0, ptr null }, section "
      "\"llvm_offload_entries\", align 8\n"
      "@.offloading.entry_name.1 = internal unnamed_addr constant [4 x i8] c\"a\\22b\\00\"\n"
      "@.offloading.entry.f = weak constant %struct.__tgt_offload_entry { i64 0, i16 1, i16 1, "
      "i32 8, ptr @f, ptr @.offloading.entry_name.1, i64 0, i64 0, ptr null }\n";
  std::vector<HostEntry> Entries = hostEntries(HostIR);
  ASSERT_EQ(Entries.size(), 2u);
  EXPECT_EQ(Entries[0].Name, "arr");
  EXPECT_EQ(Entries[0].Size, 80u);
  EXPECT_EQ(Entries[0].Flags, 0u);
  EXPECT_EQ(Entries[1].Name, "a\"b");
  EXPECT_EQ(Entries[1].Size, 0u);
  EXPECT_EQ(Entries[1].Flags, 8u);
}

TEST(GenericKernels, AreThoseOfExecutionModeOne) {
  EXPECT_EQ(genericKernels(
                "@__omp_offloading_fe00_1_main_l4_kernel_environment = weak_odr protected "
                "addrspace(1) constant %struct.KernelEnvironmentTy { "
                "%struct.ConfigurationEnvironmentTy { i8 1, i8 1, i8 1, i32 1, i32 256 } }\n"
                "@__omp_offloading_fe00_1_main_l9_kernel_environment = weak_odr protected "
                "addrspace(1) constant %struct.KernelEnvironmentTy { "
                "%struct.ConfigurationEnvironmentTy { i8 0, i8 0, i8 2, i32 1, i32 256 } }\n"),
            (std::vector<std::string>{"__omp_offloading_fe00_1_main_l4"}));
}

TEST(MissingRuntimeFunctions, AreTheUndefinedOpenMPOnes) {
  EXPECT_EQ(missingRuntimeFunctions("declare void @__kmpc_ordered(ptr, i32)\n"
                                    "define void @__kmpc_barrier(ptr %0, i32 %1) {\n"
                                    "declare i32 @omp_get_wtime()\n"
                                    "declare i64 @_Z12get_local_idj(i32)\n"),
            (std::vector<std::string>{"__kmpc_ordered", "omp_get_wtime"}));
}

TEST(DeviceLimitProblems, NameWhatExceedsTheRuntime) {
  EXPECT_EQ(
      deviceLimitProblems(
          "  call spir_func void @__kmpc_parallel_60(ptr @1, i32 %2, i32 1, i32 -1, i32 -1, ptr "
          "@f, ptr null, ptr %a, i64 65, i32 0)\n"
          "  call spir_func void @__kmpc_parallel_60(ptr @1, i32 %2, i32 1, i32 -1, i32 -1, ptr "
          "@f, ptr null, ptr %a, i64 64, i32 0)\n"
          "  %r = call spir_func i32 @__kmpc_nvptx_teams_reduce_nowait_v2(ptr @1, ptr %b, i32 "
          "1024, i64 65537, ptr %l, ptr @s, ptr @c, ptr @a, ptr @b, ptr @c, ptr @d)\n"
          "  %p = call spir_func align 16 ptr @__kmpc_alloc_shared(i64 65536)\n"
          "  %q = call spir_func align 16 ptr @__kmpc_alloc_shared(i64 65537)\n"),
      (std::vector<std::string>{
          "a parallel region captures 65 values (at most 64)",
          "a reduction across teams of 65537 bytes (at most 65536)",
          "a variable shared with a parallel region of 65537 bytes (at most 65536 per team)"}));
}

} // namespace
