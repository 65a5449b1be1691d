// The options record built from the environment, case by case. Each case starts from an
// environment without any plugin variable.
#include "frame/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

extern char **environ;

namespace {

void clearPluginEnvironment() {
  std::vector<std::string> Names;
  for (char **E = environ; *E; ++E)
    if (std::strncmp(*E, "LIBOMPTARGET_", 13) == 0 || std::strncmp(*E, "TARNO_", 6) == 0)
      Names.emplace_back(*E, std::strchr(*E, '=') - *E);
  for (const std::string &N : Names)
    unsetenv(N.c_str());
}

struct OptionsCase {
  const char *Title;
  std::vector<std::pair<const char *, const char *>> Env;
  std::function<void(const PluginOptions &)> Check;
  const char *Warning = nullptr; // expected unconditional output, exactly; null for none
};

PluginOptions readOptions(const OptionsCase &C, std::string &Err) {
  clearPluginEnvironment();
  for (const auto &[Name, Value] : C.Env)
    setenv(Name, Value, 1);
  PluginOptions Opt;
  testing::internal::CaptureStderr();
  Opt.readFromEnvironment();
  Err = testing::internal::GetCapturedStderr();
  clearPluginEnvironment();
  return Opt;
}

const char *const GPULinkDefault = " -cl-take-global-address  -cl-match-sincospi ";

} // namespace

TEST(PluginOptions, EnvironmentCases) {
  std::vector<OptionsCase> Cases = {
      {"defaults", {}, [](const PluginOptions &O) {
         EXPECT_EQ(O.Flags, 0x10u);
         EXPECT_EQ(O.DeviceType, 4u);
         EXPECT_EQ(O.ProfileResolution, 1000u);
         EXPECT_EQ(O.SubscriptionRate, 4u);
         EXPECT_EQ(O.ReductionSubscriptionRate, 16u);
         EXPECT_TRUE(O.ReductionSubscriptionRateIsDefault);
         EXPECT_DOUBLE_EQ(O.ThinThreadsThreshold, 0.1);
         EXPECT_EQ(O.TargetLinkingOptions, GPULinkDefault);
         EXPECT_EQ(O.BaseCompilationOptions, "-cl-std=CL2.0 ");
         EXPECT_EQ(O.DynamicMemorySize, 0u);
         EXPECT_EQ(O.DynamicMemoryMethod, 1);
         EXPECT_TRUE(O.SpecConstantIds.empty());
       }},
      {"cpu device type", {{"LIBOMPTARGET_DEVICETYPE", "cpu"}, {"LIBOMPTARGET_OPENCL_USE_DRIVER_GROUP_SIZES", "1"}},
       [](const PluginOptions &O) {
         EXPECT_EQ(O.DeviceType, 2u);
         EXPECT_EQ(O.SubscriptionRate, 1u);
         EXPECT_EQ(O.ReductionSubscriptionRate, 1u);
         EXPECT_EQ(O.TargetLinkingOptions, "");
         EXPECT_EQ(O.Flags & 0x02, 0u);
       }},
      {"CPU upper case", {{"LIBOMPTARGET_DEVICETYPE", "CPU"}}, [](const PluginOptions &O) { EXPECT_EQ(O.DeviceType, 2u); }},
      {"GPU upper case", {{"LIBOMPTARGET_DEVICETYPE", "GPU"}}, [](const PluginOptions &O) { EXPECT_EQ(O.DeviceType, 4u); }},
      {"empty device type", {{"LIBOMPTARGET_DEVICETYPE", ""}}, [](const PluginOptions &O) { EXPECT_EQ(O.DeviceType, 4u); }},
      {"mixed case device type", {{"LIBOMPTARGET_DEVICETYPE", "Cpu"}},
       [](const PluginOptions &O) { EXPECT_EQ(O.DeviceType, 4u); },
       "Target OPENCL RTL --> Warning: Invalid or unsupported LIBOMPTARGET_DEVICETYPE=Cpu\n"},
      {"subscription rate 8", {{"LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE", "8"}}, [](const PluginOptions &O) { EXPECT_EQ(O.SubscriptionRate, 8u); }},
      {"subscription rate 0", {{"LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE", "0"}}, [](const PluginOptions &O) { EXPECT_EQ(O.SubscriptionRate, 4u); }},
      {"subscription rate 70000", {{"LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE", "70000"}}, [](const PluginOptions &O) { EXPECT_EQ(O.SubscriptionRate, 4u); }},
      {"subscription rate 65535", {{"LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE", "65535"}}, [](const PluginOptions &O) { EXPECT_EQ(O.SubscriptionRate, 65535u); }},
      {"subscription rate text", {{"LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE", "lots"}}, [](const PluginOptions &O) { EXPECT_EQ(O.SubscriptionRate, 4u); }},
      {"reduction rate 0", {{"LIBOMPTARGET_QUVELA_REDUCTION_SUBSCRIPTION_RATE", "0"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.ReductionSubscriptionRate, 0u);
         EXPECT_FALSE(O.ReductionSubscriptionRateIsDefault);
       }},
      {"reduction rate out of range", {{"LIBOMPTARGET_QUVELA_REDUCTION_SUBSCRIPTION_RATE", "-1"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.ReductionSubscriptionRate, 16u);
         EXPECT_TRUE(O.ReductionSubscriptionRateIsDefault);
       }},
      {"profile 1,usec", {{"LIBOMPTARGET_PLUGIN_PROFILE", "1,usec"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.Flags & 0x01, 0x01u);
         EXPECT_EQ(O.ProfileResolution, 1000000u);
       }},
      {"profile T", {{"LIBOMPTARGET_PLUGIN_PROFILE", "T"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.Flags & 0x01, 0x01u);
         EXPECT_EQ(O.ProfileResolution, 1000u);
       }},
      {"profile usec alone", {{"LIBOMPTARGET_PLUGIN_PROFILE", "unit_usec"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.Flags & 0x01, 0u);
         EXPECT_EQ(O.ProfileResolution, 1000000u);
       }},
      {"profile true is not a switch", {{"LIBOMPTARGET_PLUGIN_PROFILE", "true,t"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags & 0x01, 0u); }},
      {"simd on", {{"LIBOMPTARGET_ENABLE_SIMD", "on"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags & 0x04, 0x04u); }},
      {"simd 0 warns", {{"LIBOMPTARGET_ENABLE_SIMD", "0"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags & 0x04, 0u); },
       "Target OPENCL RTL --> Warning: Invalid or unsupported LIBOMPTARGET_ENABLE_SIMD=0\n"},
      {"user options verbatim", {{"LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS", " -g  -DX=1"}, {"LIBOMPTARGET_OPENCL_LINKING_OPTIONS", "-L x "}},
       [](const PluginOptions &O) {
         EXPECT_EQ(O.UserCompilationOptions, " -g  -DX=1");
         EXPECT_EQ(O.UserLinkingOptions, "-L x ");
         EXPECT_EQ(O.ExtraCompilationOptions, "");
       }},
      {"sincospi off", {{"LIBOMPTARGET_OPENCL_MATCH_SINCOSPI", "off"}},
       [](const PluginOptions &O) { EXPECT_EQ(O.TargetLinkingOptions, " -cl-take-global-address "); }},
      {"sincospi unrecognised", {{"LIBOMPTARGET_OPENCL_MATCH_SINCOSPI", "maybe"}},
       [](const PluginOptions &O) { EXPECT_EQ(O.TargetLinkingOptions, GPULinkDefault); }},
      {"driver group sizes", {{"LIBOMPTARGET_OPENCL_USE_DRIVER_GROUP_SIZES", "yes"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags & 0x02, 0x02u); }},
      {"single context", {{"LIBOMPTARGET_USE_SINGLE_CONTEXT", "1"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags & 0x08, 0x08u); }},
      {"single context junk", {{"LIBOMPTARGET_USE_SINGLE_CONTEXT", "x"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags & 0x08, 0u); }},
      {"dynamic memory 100", {{"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "100"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.DynamicMemorySize, 134217728u);
         EXPECT_EQ(O.DynamicMemoryMethod, 1);
       }},
      {"dynamic memory 600,0", {{"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "600,0"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.DynamicMemorySize, 600ull << 20);
         EXPECT_EQ(O.DynamicMemoryMethod, 0);
       }},
      {"dynamic memory negative", {{"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "-100,0"}}, [](const PluginOptions &O) {
         EXPECT_EQ(O.DynamicMemorySize, 0u);
         EXPECT_EQ(O.DynamicMemoryMethod, 1);
       }},
      {"annotations even when 0", {{"TARNO_ENABLE_OFFLOAD_ANNOTATIONS", "0"}}, [](const PluginOptions &O) {
         ASSERT_EQ(O.SpecConstantIds.size(), 1u);
         EXPECT_EQ(O.SpecConstantIds[0], 0xFF747469u);
         EXPECT_EQ(O.SpecConstantSizes[0], 1u);
         EXPECT_EQ(O.SpecConstantValues[0][0], 1);
       }},
      {"image options off", {{"LIBOMPTARGET_QUVELA_USE_IMAGE_OPTIONS", "false"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags, 0u); }},
      {"image options junk keeps on", {{"LIBOMPTARGET_QUVELA_USE_IMAGE_OPTIONS", "?"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags, 0x10u); }},
      {"build log and libdevice", {{"LIBOMPTARGET_QUVELA_SHOW_BUILD_LOG", "TRUE"}, {"LIBOMPTARGET_QUVELA_LINK_LIBDEVICE", "enabled"}},
       [](const PluginOptions &O) { EXPECT_EQ(O.Flags, 0x10u | 0x20u | 0x40u); }},
      {"thin threads 0", {{"LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD", "0"}}, [](const PluginOptions &O) { EXPECT_DOUBLE_EQ(O.ThinThreadsThreshold, 0.0); }},
      {"thin threads 1.5", {{"LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD", "1.5"}}, [](const PluginOptions &O) { EXPECT_DOUBLE_EQ(O.ThinThreadsThreshold, 0.1); }},
      {"ignore trip count", {{"LIBOMPTARGET_NDRANGE_IGNORE_TRIPCOUNT", "1"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags, 0x90u); }},
      {"ignore trip count off", {{"LIBOMPTARGET_NDRANGE_IGNORE_TRIPCOUNT", "no"}}, [](const PluginOptions &O) { EXPECT_EQ(O.Flags, 0x10u); }},
      {"trace file", {{"LIBOMPTARGET_OPENCL_TRACE_FILE", "/tmp/t.json"}},
       [](const PluginOptions &O) { EXPECT_EQ(O.Flags, 0x110u); EXPECT_EQ(O.TraceFile, "/tmp/t.json"); }},
      {"trace file empty", {{"LIBOMPTARGET_OPENCL_TRACE_FILE", ""}},
       [](const PluginOptions &O) { EXPECT_EQ(O.Flags, 0x10u); EXPECT_EQ(O.TraceFile, ""); }},
  };
  for (const OptionsCase &C : Cases) {
    SCOPED_TRACE(C.Title);
    std::string Err;
    PluginOptions O = readOptions(C, Err);
    C.Check(O);
    EXPECT_EQ(Err, C.Warning ? C.Warning : "");
  }
}
