// Platforms, devices, their info queries and the vendor function lookup, through the ICD loader.
#include "child_process.h"

#include <gtest/gtest.h>

using namespace fakecl_test;

namespace {

struct Layout {
  const char *Name;
  const char *Scenario;
  std::vector<std::string> Versions;
  std::vector<std::vector<cl_device_type>> DeviceTypes;
};

class DiscoveryLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(DiscoveryLayouts, PlatformsAndDevicesComeBackInScenarioOrder) {
  const Layout L = GetParam();
  runWithDriver(L.Scenario, [&](fakecl::Client &) {
    std::vector<cl_platform_id> P = platforms();
    ASSERT_EQ(P.size(), L.Versions.size());
    for (size_t I = 0; I < P.size(); ++I) {
      EXPECT_EQ(platformText(P[I], CL_PLATFORM_VERSION), L.Versions[I]);
      std::vector<cl_device_id> All = devices(P[I]);
      ASSERT_EQ(All.size(), L.DeviceTypes[I].size());
      size_t Gpus = 0;
      for (size_t D = 0; D < All.size(); ++D) {
        cl_device_type Type = 0;
        ASSERT_EQ(clGetDeviceInfo(All[D], CL_DEVICE_TYPE, sizeof(Type), &Type, nullptr), CL_SUCCESS);
        EXPECT_EQ(Type, L.DeviceTypes[I][D]);
        cl_platform_id Owner = nullptr;
        ASSERT_EQ(clGetDeviceInfo(All[D], CL_DEVICE_PLATFORM, sizeof(Owner), &Owner, nullptr), CL_SUCCESS);
        EXPECT_EQ(Owner, P[I]);
        Gpus += Type == CL_DEVICE_TYPE_GPU;
      }
      EXPECT_EQ(devices(P[I], CL_DEVICE_TYPE_GPU).size(), Gpus);
    }
  });
}

INSTANTIATE_TEST_SUITE_P(
    Fakecl, DiscoveryLayouts,
    ::testing::Values(
        Layout{"Default", "", {"OpenCL 3.0 fakecl"}, {{CL_DEVICE_TYPE_GPU}}},
        Layout{"TwoPlatforms",
               "platform version=\"OpenCL 2.0 old\"\ndevice type=gpu\ndevice type=cpu\n"
               "platform version=\"OpenCL 3.0 new\"\ndevice type=gpu",
               {"OpenCL 2.0 old", "OpenCL 3.0 new"},
               {{CL_DEVICE_TYPE_GPU, CL_DEVICE_TYPE_CPU}, {CL_DEVICE_TYPE_GPU}}},
        Layout{"ThreeVersionsCpuOnly",
               "platform version=\"OpenCL 2.1 a\"\ndevice type=cpu\nplatform version=\"OpenCL 3.0 b\"\n"
               "device type=cpu\nplatform version=\"OpenCL 2.0 c\"\ndevice type=accelerator",
               {"OpenCL 2.1 a", "OpenCL 3.0 b", "OpenCL 2.0 c"},
               {{CL_DEVICE_TYPE_CPU}, {CL_DEVICE_TYPE_CPU}, {CL_DEVICE_TYPE_ACCELERATOR}}}),
    [](const ::testing::TestParamInfo<Layout> &I) { return std::string(I.param.Name); });

TEST(FakeclDiscovery, NoPlatformsGivesTheLoadersNotFound) {
  runWithDriver("no-platforms", [](fakecl::Client &) {
    cl_uint Count = 7;
    EXPECT_EQ(clGetPlatformIDs(0, nullptr, &Count), -1001); // CL_PLATFORM_NOT_FOUND_KHR
  });
}

TEST(FakeclDiscovery, PlatformWithoutDevicesOfATypeReportsNotFound) {
  runWithDriver("platform\ndevice type=gpu", [](fakecl::Client &) {
    cl_uint Count = 5;
    EXPECT_EQ(clGetDeviceIDs(platforms()[0], CL_DEVICE_TYPE_CPU, 0, nullptr, &Count), CL_DEVICE_NOT_FOUND);
    EXPECT_EQ(Count, 0u);
  });
}

TEST(FakeclDiscovery, PlatformInfoIsScriptableAndAlwaysCarriesTheIcdExtension) {
  runWithDriver("platform name=Alpha vendor=\"Maker X\" extensions=\"cl_khr_foo\"\ndevice\n"
                "platinfo 0x0901 fail -30",
                [](fakecl::Client &) {
                  cl_platform_id P = platforms()[0];
                  EXPECT_EQ(platformText(P, CL_PLATFORM_NAME), "Alpha");
                  EXPECT_EQ(platformText(P, CL_PLATFORM_VENDOR), "Maker X");
                  EXPECT_EQ(platformText(P, CL_PLATFORM_EXTENSIONS), "cl_khr_icd cl_khr_foo");
                  size_t Size = 0;
                  EXPECT_EQ(clGetPlatformInfo(P, CL_PLATFORM_VERSION, 0, nullptr, &Size), -30);
                });
}

TEST(FakeclDiscovery, DeviceInfoOfEveryValueType) {
  runWithDriver("platform\ndevice type=gpu name=\"Card 7\" extensions=\"cl_a cl_b\"\n"
                "devinfo 0x4251 u32 0xBEEF\ndevinfo 0x1010 u64 12345678901\ndevinfo 0x1004 size 512\n"
                "devinfo 0x1027 bool false\ndevinfo 0x1005 sizes 8,4,2\ndevinfo 0x4255 fail -5\n"
                "devinfo 0x1002 unset",
                [](fakecl::Client &) {
                  cl_device_id D = devices(platforms()[0])[0];
                  EXPECT_EQ(deviceText(D, CL_DEVICE_NAME), "Card 7");
                  EXPECT_EQ(deviceText(D, CL_DEVICE_EXTENSIONS), "cl_a cl_b");
                  cl_uint U32 = 0;
                  EXPECT_EQ(clGetDeviceInfo(D, 0x4251, sizeof(U32), &U32, nullptr), CL_SUCCESS);
                  EXPECT_EQ(U32, 0xBEEFu);
                  cl_ulong U64 = 0;
                  EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_MAX_MEM_ALLOC_SIZE, sizeof(U64), &U64, nullptr), CL_SUCCESS);
                  EXPECT_EQ(U64, 12345678901ull);
                  size_t Sz = 0;
                  EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_MAX_WORK_GROUP_SIZE, sizeof(Sz), &Sz, nullptr), CL_SUCCESS);
                  EXPECT_EQ(Sz, 512u);
                  cl_bool B = CL_TRUE;
                  EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_AVAILABLE, sizeof(B), &B, nullptr), CL_SUCCESS);
                  EXPECT_EQ(B, static_cast<cl_bool>(CL_FALSE));
                  size_t Items[3] = {};
                  size_t Ret = 0;
                  EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof(Items), Items, &Ret), CL_SUCCESS);
                  EXPECT_EQ(Ret, sizeof(Items));
                  EXPECT_EQ(Items[0] + Items[1] + Items[2], 14u);
                  EXPECT_EQ(clGetDeviceInfo(D, 0x4255, sizeof(U32), &U32, nullptr), -5);
                  EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_MAX_COMPUTE_UNITS, sizeof(U32), &U32, nullptr), CL_INVALID_VALUE);
                });
}

TEST(FakeclDiscovery, EveryQueriedPropertyHasADefault) {
  runWithDriver("", [](fakecl::Client &) {
    cl_device_id D = devices(platforms()[0])[0];
    const std::pair<cl_uint, size_t> Params[] = {
        {0x4251, 4}, {0x4252, 4}, {0x4253, 4}, {0x4254, 4}, {0x4255, 4}, {CL_DEVICE_MAX_COMPUTE_UNITS, 4},
        {CL_DEVICE_MAX_WORK_GROUP_SIZE, 8}, {CL_DEVICE_LOCAL_MEM_SIZE, 8}, {CL_DEVICE_GLOBAL_MEM_SIZE, 8},
        {CL_DEVICE_GLOBAL_MEM_CACHE_SIZE, 8}, {CL_DEVICE_MAX_MEM_ALLOC_SIZE, 8}, {CL_DEVICE_MAX_CLOCK_FREQUENCY, 4}};
    for (auto &P : Params) {
      size_t Size = 0;
      EXPECT_EQ(clGetDeviceInfo(D, P.first, 0, nullptr, &Size), CL_SUCCESS) << std::hex << P.first;
      EXPECT_EQ(Size, P.second) << std::hex << P.first;
    }
    EXPECT_NE(deviceText(D, CL_DEVICE_EXTENSIONS).find("cl_tarno_unified_shared_memory"), std::string::npos);
  });
}

TEST(FakeclDiscovery, SizeQueriesAndShortBuffersBehaveLikeARealDriver) {
  runWithDriver("platform\ndevice name=abcdef", [](fakecl::Client &) {
    cl_device_id D = devices(platforms()[0])[0];
    size_t Size = 0;
    ASSERT_EQ(clGetDeviceInfo(D, CL_DEVICE_NAME, 0, nullptr, &Size), CL_SUCCESS);
    EXPECT_EQ(Size, 7u);
    char Buf[16] = "untouched";
    EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_NAME, 6, Buf, nullptr), CL_INVALID_VALUE);
    EXPECT_STREQ(Buf, "untouched");
    EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_NAME, 7, Buf, nullptr), CL_SUCCESS);
    EXPECT_STREQ(Buf, "abcdef");
    cl_uint Small = 0;
    EXPECT_EQ(clGetDeviceInfo(D, CL_DEVICE_MAX_MEM_ALLOC_SIZE, sizeof(Small), &Small, nullptr), CL_INVALID_VALUE);
  });
}

TEST(FakeclDiscovery, VendorFunctionsAreOfferedPerPlatformAndCanBeWithheld) {
  runWithDriver("platform\ndevice\nplatform\ndevice\nextfn clEnqueueMemcpyTARNO off\n"
                "platform\ndevice\nextfn all off\nextfn clMemFreeTARNO on",
                [](fakecl::Client &) {
                  std::vector<cl_platform_id> P = platforms();
                  ASSERT_EQ(P.size(), 3u);
                  const char *Names[] = {"clGetMemAllocInfoTARNO", "clHostMemAllocTARNO", "clDeviceMemAllocTARNO",
                                         "clSharedMemAllocTARNO", "clMemFreeTARNO", "clMemBlockingFreeTARNO",
                                         "clSetKernelArgMemPointerTARNO", "clEnqueueMemcpyTARNO",
                                         "clSetProgramSpecializationConstant",
                                         "clGetDeviceGlobalVariablePointerTARNO",
                                         "clGetKernelSuggestedLocalWorkSizeTARNO", "clVelkIndirectAllocationOffsets"};
                  for (const char *N : Names) {
                    EXPECT_NE(vendorFunction(P[0], N), nullptr) << N;
                    EXPECT_EQ(vendorFunction(P[1], N) == nullptr, std::string(N) == "clEnqueueMemcpyTARNO") << N;
                    EXPECT_EQ(vendorFunction(P[2], N) == nullptr, std::string(N) != "clMemFreeTARNO") << N;
                  }
                  EXPECT_EQ(vendorFunction(P[0], "clNoSuchFunctionTARNO"), nullptr);
                });
}

TEST(FakeclDiscovery, ATestCanSubstituteAVendorFunction) {
  runWithDriver("", [](fakecl::Client &Fake) {
    static int Marker;
    ASSERT_TRUE(Fake.setExtensionFunction(0, "clMemFreeTARNO", &Marker));
    EXPECT_EQ(vendorFunction(platforms()[0], "clMemFreeTARNO"), &Marker);
    EXPECT_FALSE(Fake.setExtensionFunction(4, "clMemFreeTARNO", &Marker));
  });
}

TEST(FakeclDiscovery, LoaderStartupCallsDoNotConsumeFaultRules) {
  runWithDriver("fail clGetPlatformInfo nth=1 err=-33", [](fakecl::Client &Fake) {
    std::vector<cl_platform_id> P = platforms();
    ASSERT_EQ(P.size(), 1u);
    EXPECT_EQ(Fake.callCount("clGetPlatformInfo"), 0u);
    EXPECT_GT(Fake.callCount("loader:clGetPlatformInfo"), 0u);
    char Buf[64];
    EXPECT_EQ(clGetPlatformInfo(P[0], CL_PLATFORM_NAME, sizeof(Buf), Buf, nullptr), -33);
    EXPECT_EQ(clGetPlatformInfo(P[0], CL_PLATFORM_NAME, sizeof(Buf), Buf, nullptr), CL_SUCCESS);
  });
}

} // namespace
