// Device logic that needs no driver: architecture matching and the answers of the device query
// entry points, from a plugin state filled by hand.
#include "device/arch_tables.h"
#include "frame/plugin_state.h"
#include "omptargetplugin.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The rows as the creation of the plugin state at load (priority 102) finds them.
size_t RowsAtAttach = 0;
__attribute__((constructor(102))) void countRowsAtAttach() {
  RowsAtAttach = DeviceArchPCIIds.size() + DeviceArchNames.size();
}

} // namespace

TEST(DeviceArch, TablesHaveTheirRowCounts) {
  EXPECT_EQ(RowsAtAttach, 6u); // built before anything that runs at load
  ASSERT_EQ(DeviceArchPCIIds.size(), 4u);
  EXPECT_EQ(DeviceArchPCIIds.at(1).size(), 5u);
  EXPECT_EQ(DeviceArchPCIIds.at(2).size(), 7u);
  EXPECT_EQ(DeviceArchPCIIds.at(4).size(), 2u);
  EXPECT_EQ(DeviceArchPCIIds.at(8).size(), 2u);
  ASSERT_EQ(DeviceArchNames.size(), 2u);
  EXPECT_EQ(DeviceArchNames.at(1).size(), 5u);
  EXPECT_EQ(DeviceArchNames.at(2).size(), 2u);
}

TEST(DeviceArch, MatchingRules) {
  struct Case {
    uint32_t PCIId;
    const char *Name;
    uint64_t Arch;
  } Cases[] = {
      {0x1A00, "", 1},                  // a family value itself
      {0x1A7F, "", 1},                  // any member of a listed family
      {0x1C56, "", 1},                  // family listed for code 1 beats the full id of code 2
      {0x2D01, "", 2},                  // a full id
      {0x2D03, "", 0},                  // a sibling of a full id is not listed
      {0x4B07, "", 4},
      {0x4B08, "", 0},
      {0x8B42, "", 8},
      {0x9900, "Verdant Max 3", 2},     // no id match: the name decides
      {0, "Tarnished Quillon Pro", 1},  // substring anywhere in the name
      {0, "quillon pro", 0},            // case matters
      {0, "Unknown GPU", 0},
      {0x2A11, "Quillon G1", 2},        // the id wins over the name
  };
  for (const Case &C : Cases)
    EXPECT_EQ(matchDeviceArch(C.PCIId, C.Name), C.Arch)
        << std::hex << C.PCIId << " " << C.Name;
}

namespace {

// Gives the in-process plugin state one device with known properties.
class OneDevice : public testing::Test {
protected:
  void SetUp() override {
    DeviceInfo->NumDevices = 1;
    DeviceInfo->DeviceArchs.assign(1, 2);
    DevicePropertiesTy P;
    P.Name = "Quillon Test";
    P.DeviceId = 0x1A21;
    P.NumEUs = 96;
    P.NumThreadsPerEU = 7;
    P.NumEUsPerSubslice = 8;
    P.NumSubslicesPerSlice = 6;
    P.NumSlices = 2;
    P.LocalMemSize = 65536;
    P.GlobalMemSize = 1ull << 33;
    P.GlobalMemCacheSize = 1ull << 21;
    P.MaxClockFrequency = 1300;
    DeviceInfo->DeviceProperties.assign(1, P);
  }
  void TearDown() override {
    DeviceInfo->NumDevices = 0;
    DeviceInfo->DeviceArchs.clear();
    DeviceInfo->DeviceProperties.clear();
  }
};

} // namespace

TEST_F(OneDevice, IsSupportedDeviceMasks) {
  EXPECT_EQ(__tgt_rtl_is_supported_device(0, 0x3), 1);
  EXPECT_EQ(__tgt_rtl_is_supported_device(0, 0x2), 1);
  EXPECT_EQ(__tgt_rtl_is_supported_device(0, 0x1), 0);
  EXPECT_EQ(__tgt_rtl_is_supported_device(0, 0x100), 0);
  EXPECT_EQ(__tgt_rtl_is_supported_device(0, 0), 1);
  DeviceInfo->DeviceArchs[0] = 0; // unknown architecture: every mask matches
  EXPECT_EQ(__tgt_rtl_is_supported_device(0, 0x1), 1);
  EXPECT_EQ(__tgt_rtl_is_supported_device(0, 0x100), 1);
}

TEST_F(OneDevice, DeviceInfoEveryKind) {
  struct Case {
    uint32_t Kind;
    size_t Bytes;
    uint64_t Value; // for numeric kinds
  } Cases[] = {
      {1, 4, 0x1A21},        {2, 4, 0xFFFFFFFF}, {3, 4, 0xFFFFFFFF}, {4, 4, 96},
      {5, 4, 7},             {7, 4, 8},          {8, 4, 6},          {9, 4, 2},
      {10, 8, 65536},        {11, 8, 1ull << 33}, {12, 8, 1ull << 21}, {13, 4, 1300},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Kind);
    size_t SizeRet = 0;
    ASSERT_EQ(__tgt_rtl_get_device_info(0, C.Kind, 0, nullptr, &SizeRet), 0);
    EXPECT_EQ(SizeRet, C.Bytes);
    uint64_t Value = 0;
    SizeRet = 1234;
    ASSERT_EQ(__tgt_rtl_get_device_info(0, C.Kind, sizeof(Value), &Value, &SizeRet), 0);
    EXPECT_EQ(Value, C.Value);
    EXPECT_EQ(SizeRet, 1234u); // not written when copying
    uint8_t Short[8] = {};
    EXPECT_EQ(__tgt_rtl_get_device_info(0, C.Kind, C.Bytes - 1, Short, nullptr), -1);
  }
}

TEST_F(OneDevice, DeviceInfoTextsAndRefusals) {
  size_t SizeRet = 0;
  ASSERT_EQ(__tgt_rtl_get_device_info(0, 14, 0, nullptr, &SizeRet), 0);
  EXPECT_EQ(SizeRet, 7u);
  char Text[32];
  ASSERT_EQ(__tgt_rtl_get_device_info(0, 14, sizeof(Text), Text, nullptr), 0);
  EXPECT_STREQ(Text, "opencl");

  ASSERT_EQ(__tgt_rtl_get_device_info(0, 0, 0, nullptr, &SizeRet), 0);
  EXPECT_EQ(SizeRet, std::strlen("Quillon Test") + 1);
  // The name without room for its NUL is refused.
  EXPECT_EQ(__tgt_rtl_get_device_info(0, 0, std::strlen("Quillon Test"), Text, nullptr), -1);
  ASSERT_EQ(__tgt_rtl_get_device_info(0, 0, sizeof(Text), Text, nullptr), 0);
  EXPECT_STREQ(Text, "Quillon Test");

  for (uint32_t Kind : {6u, 15u, 0xFFFFFFFFu})
    EXPECT_EQ(__tgt_rtl_get_device_info(0, Kind, 0, nullptr, &SizeRet), -1) << Kind;
  EXPECT_EQ(__tgt_rtl_get_device_info(0, 4, 0, Text, nullptr), -1);    // size 0
  EXPECT_EQ(__tgt_rtl_get_device_info(0, 4, 4, nullptr, nullptr), -1); // no buffer
  EXPECT_EQ(__tgt_rtl_get_device_info(0, 4, 0, nullptr, nullptr), -1); // nowhere to answer
}
