// Discovery on the machine's real OpenCL platform (PoCL's CPU device), without the layer that
// adds unified shared memory: the device is found and its initialisation fails cleanly.
#include "child_process.h"
#include "host_plugin.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

ChildResult discoverAndInit(EnvironmentList Env) {
  Env.emplace_back("LIBOMPTARGET_DEBUG", "1");
  Env.emplace_back("LIBOMPTARGET_DEVICETYPE", "cpu");
  return runInChild(Env, [] {
                               HostPlugin P;
                               std::string Error;
                               if (!loadHostPlugin(PLUGIN_PATH, P, Error))
                                 return 92;
                               P.register_lib(nullptr);
                               int32_t Count = P.number_of_devices();
                               std::printf("count=%d init=%d\n", Count > 0 ? 1 : 0,
                                           Count > 0 ? P.init_device(0) : 99);
                               P.unregister_lib(nullptr);
                               return 0;
                             });
}

} // namespace

TEST(RealPlatform, CPUFoundButLacksUnifiedSharedMemory) {
  ChildResult R = discoverAndInit({});
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "count=1 init=-1\n") << R.Stderr;
  EXPECT_NE(R.Stderr.find("Target OPENCL RTL --> Platform OpenCL 3.0 PoCL"), std::string::npos)
      << R.Stderr;
  EXPECT_NE(R.Stderr.find("Target OPENCL RTL --> Error: Required USM extension is not found"),
            std::string::npos);
  EXPECT_NE(R.Stderr.find("Target OPENCL RTL --> Closed RTL successfully"), std::string::npos);
}

#ifdef LAYER_PATH
TEST(RealPlatform, LayerGivesTheCPUUnifiedSharedMemory) {
  ChildResult R = discoverAndInit({{"OPENCL_LAYERS", LAYER_PATH}});
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "count=1 init=0\n") << R.Stderr;
  EXPECT_NE(R.Stderr.find("Target OPENCL RTL --> Extension UnifiedSharedMemory enabled."),
            std::string::npos)
      << R.Stderr;
}
#endif
