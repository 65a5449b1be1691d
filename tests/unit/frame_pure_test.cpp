// Pure logic of the frame: error names and the option parsers.
#include "frame/debug.h"
#include "frame/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

TEST(CLErrorNames, TableEdgesAndUnassignedCodes) {
  struct Case {
    int32_t Code;
    const char *Name;
  } Cases[] = {
      {0, "CL_SUCCESS"},
      {-1, "CL_DEVICE_NOT_FOUND"},
      {-14, "CL_EXEC_STATUS_ERROR_FOR_EVENTS_IN_WAIT_LIST"},
      {-19, "CL_KERNEL_ARG_INFO_NOT_AVAILABLE"},
      {-20, "Unknown Error"},
      {-25, "Unknown Error"},
      {-29, "Unknown Error"},
      {-30, "CL_INVALID_VALUE"},
      {-36, "CL_INVALID_COMMAND_QUEUE"},
      {-54, "CL_INVALID_WORK_GROUP_SIZE"},
      {-69, "CL_INVALID_PIPE_SIZE"},
      {-70, "CL_INVALID_DEVICE_QUEUE"},
      {-71, "Unknown Error"},
      {5, "Unknown Error"},
      {1, "Unknown Error"},
      {std::numeric_limits<int32_t>::min(), "Unknown Error"},
      {-1001, "Unknown Error"},
  };
  for (const Case &C : Cases)
    EXPECT_STREQ(getCLErrorName(C.Code), C.Name) << "code " << C.Code;
}

TEST(ParseBool, TrueFalseAndEverythingElse) {
  for (const char *T : {"1", "t", "T", "on", "ON", "yes", "Yes", "true", "TRUE", "enabled", "Enabled"})
    EXPECT_EQ(parseBool(T), 1) << T;
  for (const char *F : {"0", "f", "F", "off", "Off", "no", "NO", "false", "False", "disabled"})
    EXPECT_EQ(parseBool(F), 0) << F;
  for (const char *X : {"", "2", "y", "n", "truee", " true", "enable", "-1", "00"})
    EXPECT_EQ(parseBool(X), -1) << '"' << X << '"';
}

TEST(ParseInt32, LeadingNumberWithinRange) {
  struct Case {
    const char *Text;
    bool Ok;
    int32_t Value;
  } Cases[] = {
      {"8", true, 8},       {"  12abc", true, 12},       {"-3", true, -3},
      {"+7", true, 7},      {"2147483647", true, INT32_MAX}, {"2147483648", false, 0},
      {"-2147483649", false, 0}, {"abc", false, 0},      {"", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Case &C : Cases) {
    int32_t V = 0;
    EXPECT_EQ(parseInt32(C.Text, V), C.Ok) << C.Text;
    if (C.Ok) {
      EXPECT_EQ(V, C.Value) << C.Text;
    }
  }
  int32_t V = 5;
  EXPECT_FALSE(parseInt32(nullptr, V));
  EXPECT_EQ(V, 5);
}

TEST(DynamicMemorySize, SizesMethodsAndLimits) {
  struct Case {
    const char *Text;
    bool Accepted;
    uint64_t Bytes;
    int32_t Method;
    const char *Warning; // substring of the unconditional warning, or null
  } Cases[] = {
      {"100", true, 128ull << 20, 1, nullptr},
      {"1", true, 1ull << 20, 1, nullptr},
      {"3", true, 4ull << 20, 1, nullptr},
      {"512", true, 512ull << 20, 1, nullptr},
      {"513", true, 512ull << 20, 1, "size 1024 MB exceeds allowed limit  -- setting it to 512 MB"},
      {"600", true, 512ull << 20, 1, "size 1024 MB exceeds allowed limit  -- setting it to 512 MB"},
      {"600,0", true, 600ull << 20, 0, nullptr},
      {"2048,0", true, 2048ull << 20, 0, nullptr},
      {"3000,0", true, 2048ull << 20, 0, "size 3000 MB exceeds allowed limit  -- setting it to 2048 MB"},
      {"100,1", true, 128ull << 20, 1, nullptr},
      {"0", true, 0, 1, nullptr},
      {"0,0", true, 0, 0, nullptr},
      {"100,x", true, 0, 1, nullptr},   // bad method: size 0, method untouched
      {"100,01", true, 0, 1, nullptr},
      {"100,", true, 0, 1, nullptr},
      {"-5", false, 7, 1, nullptr},     // refused: the outputs keep what they held
      {"abc", false, 7, 1, nullptr},
      {"", false, 7, 1, nullptr},
      {"4294967296", false, 7, 1, nullptr},
      {"2147483647", true, 512ull << 20, 1, "setting it to 512 MB"},
  };
  for (const Case &C : Cases) {
    uint64_t Bytes = 7;
    int32_t Method = 1;
    testing::internal::CaptureStderr();
    bool Accepted = parseDynamicMemorySize(C.Text, Bytes, Method);
    std::string Err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Accepted, C.Accepted) << C.Text;
    EXPECT_EQ(Bytes, C.Bytes) << C.Text;
    EXPECT_EQ(Method, C.Method) << C.Text;
    if (C.Warning) {
      EXPECT_NE(Err.find(std::string("Target OPENCL RTL --> Warning: Requested dynamic memory ")),
                std::string::npos)
          << C.Text << ": " << Err;
      EXPECT_NE(Err.find(C.Warning), std::string::npos) << C.Text << ": " << Err;
    } else {
      EXPECT_EQ(Err, "") << C.Text;
    }
  }
}

TEST(ThinThreadsThreshold, RangeAndMalformedValues) {
  struct Case {
    const char *Text;
    bool Taken;
    double Value;
  } Cases[] = {
      {"0", true, 0.0},    {"1", true, 1.0},     {"0.25", true, 0.25}, {"1e-1", true, 0.1},
      {"0.5xyz", true, 0.5}, {"1.5", false, 0.1}, {"-0.1", false, 0.1}, {"abc", false, 0.1},
      {"nan", false, 0.1}, {"1e999", false, 0.1}, {"", false, 0.1},
  };
  for (const Case &C : Cases) {
    double V = 0.1;
    EXPECT_EQ(parseThinThreadsThreshold(C.Text, V), C.Taken) << C.Text;
    EXPECT_DOUBLE_EQ(V, C.Value) << C.Text;
  }
}

TEST(ReadEnvironmentVariable, CurrentAndDeprecatedNames) {
  unsetenv("PLUGIN_TEST_NEW");
  setenv("PLUGIN_TEST_OLD", "7", 1);
  testing::internal::CaptureStderr();
  const char *Value = readEnvironmentVariable("PLUGIN_TEST_NEW", "PLUGIN_TEST_OLD");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Target OPENCL RTL --> Warning: PLUGIN_TEST_OLD is being deprecated. Use "
            "PLUGIN_TEST_NEW instead.\n");
  ASSERT_NE(Value, nullptr);
  EXPECT_STREQ(Value, "7");

  setenv("PLUGIN_TEST_NEW", "8", 1); // the current name wins, without a warning
  testing::internal::CaptureStderr();
  Value = readEnvironmentVariable("PLUGIN_TEST_NEW", "PLUGIN_TEST_OLD");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_STREQ(Value, "8");
  EXPECT_EQ(readEnvironmentVariable("PLUGIN_TEST_UNSET_NAME"), nullptr);
  unsetenv("PLUGIN_TEST_NEW");
  unsetenv("PLUGIN_TEST_OLD");
}
