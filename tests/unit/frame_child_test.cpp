// The plugin library as the host runtime loads it, one fresh process per environment: debug
// levels, option messages, registration counting and shutdown.
#include "child_process.h"
#include "host_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <unistd.h>
#include <string>

namespace {

// Loads the plugin, registers Registrations times and unregisters Unregistrations times.
int loadAndCycle(int Registrations, int Unregistrations) {
  HostPlugin Plugin;
  std::string Error;
  if (!loadHostPlugin(PLUGIN_PATH, Plugin, Error)) {
    std::fprintf(stderr, "load failed: %s\n", Error.c_str());
    return 99;
  }
  for (int I = 0; I < Registrations; ++I)
    if (Plugin.register_lib(nullptr) != 0)
      return 98;
  for (int I = 0; I < Unregistrations; ++I) {
    std::fprintf(stdout, "unregister %d\n", I);
    std::fflush(stdout);
    if (Plugin.unregister_lib(nullptr) != 0)
      return 97;
  }
  return 0;
}

ChildResult cycle(const EnvironmentList &Env, int Registrations = 1, int Unregistrations = 1) {
  return runInChild(Env, [=] { return loadAndCycle(Registrations, Unregistrations); });
}

const char *const InvalidLevelWarning =
    "Libomptarget --> Warning: Debug level was set to 0 for invalid input LIBOMPTARGET_DEBUG=";

} // namespace

TEST(DebugLevel, OutputPerLevel) {
  struct Case {
    const char *Value; // null: unset
    bool Warning;      // the invalid-input warning
    bool Messages;     // debug messages written
    bool Pid;          // with the process id
  } Cases[] = {
      {nullptr, false, false, false}, {"0", false, false, false}, {"00", true, false, false},
      {"abc", true, false, false},    {"", true, false, false},   {"1", false, true, false},
      {"2", false, true, false},      {"3", false, true, true},   {"12abc", false, true, true},
      {"-1", false, true, true},      {" 1", false, true, false},
  };
  for (const Case &C : Cases) {
    std::string Title = C.Value ? std::string("\"") + C.Value + "\"" : "unset";
    SCOPED_TRACE(Title);
    EnvironmentList Env;
    if (C.Value)
      Env.emplace_back("LIBOMPTARGET_DEBUG", C.Value);
    ChildResult R = cycle(Env);
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    std::vector<std::string> Lines = splitLines(R.Stderr);
    size_t First = 0;
    if (C.Warning) {
      ASSERT_FALSE(Lines.empty());
      EXPECT_EQ(Lines[0], std::string(InvalidLevelWarning) + "\"" + C.Value + "\"");
      First = 1;
    }
    if (!C.Messages) {
      EXPECT_EQ(Lines.size(), First) << R.Stderr;
      continue;
    }
    std::string Prefix = "Target OPENCL RTL";
    if (C.Pid)
      Prefix += " \\(pid:[0-9]+\\) ";
    Prefix += " --> ";
    const char *Expected[] = {"Init OpenCL plugin!", "Target device type is set to GPU",
                              "Deinit OpenCL plugin!", "Closed RTL successfully"};
    ASSERT_EQ(Lines.size(), First + 4) << R.Stderr;
    for (size_t I = 0; I < 4; ++I)
      EXPECT_TRUE(std::regex_match(Lines[First + I], std::regex(Prefix + Expected[I])))
          << Lines[First + I];
  }
}

TEST(Registration, LastUnregistrationShutsDown) {
  struct Case {
    int Registrations, Unregistrations;
    int ShutdownAfter; // index of the unregistration that shuts down, -1 for none
  } Cases[] = {{1, 1, 0}, {2, 1, -1}, {2, 2, 1}, {3, 3, 2}, {1, 0, -1}};
  for (const Case &C : Cases) {
    SCOPED_TRACE(std::to_string(C.Registrations) + " registrations, " +
                 std::to_string(C.Unregistrations) + " unregistrations");
    ChildResult R = runInChild({{"LIBOMPTARGET_DEBUG", "1"}}, [&] {
      // Interleave stdout markers with the plugin's stderr by sending both to stderr.
      dup2(2, 1);
      return loadAndCycle(C.Registrations, C.Unregistrations);
    });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    std::vector<std::string> Lines = splitLines(R.Stderr);
    int LastMarker = -1;
    int DeinitAfter = -2;
    size_t Deinits = 0;
    for (const std::string &L : Lines) {
      if (L.rfind("unregister ", 0) == 0)
        LastMarker = std::stoi(L.substr(11));
      if (L == "Target OPENCL RTL --> Deinit OpenCL plugin!") {
        ++Deinits;
        DeinitAfter = LastMarker;
      }
    }
    EXPECT_EQ(Deinits, C.ShutdownAfter >= 0 ? 1u : 0u) << R.Stderr;
    if (C.ShutdownAfter >= 0) {
      EXPECT_EQ(DeinitAfter, C.ShutdownAfter) << R.Stderr;
    }
  }
}

TEST(OptionMessages, EchoWarningsAndDebugMessages) {
  struct Case {
    const char *Title;
    EnvironmentList Env;
    std::vector<std::string> Present; // lines that must appear
    std::vector<std::string> Absent;  // substrings that must not appear
  } Cases[] = {
      {"echo of every set variable, accepted or not",
       {{"LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE", "70000"}, {"LIBOMPTARGET_PLUGIN_PROFILE", "t"}},
       {"Target OPENCL RTL --> ENV: LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE=70000",
        "Target OPENCL RTL --> ENV: LIBOMPTARGET_PLUGIN_PROFILE=t"},
       {}},
      {"cpu reads no GPU variables",
       {{"LIBOMPTARGET_DEVICETYPE", "cpu"},
        {"LIBOMPTARGET_OPENCL_MATCH_SINCOSPI", "0"},
        {"LIBOMPTARGET_OPENCL_USE_DRIVER_GROUP_SIZES", "1"}},
       {"Target OPENCL RTL --> ENV: LIBOMPTARGET_DEVICETYPE=cpu",
        "Target OPENCL RTL --> Target device type is set to CPU"},
       {"MATCH_SINCOSPI", "DRIVER_GROUP_SIZES"}},
      {"gpu reads them",
       {{"LIBOMPTARGET_OPENCL_MATCH_SINCOSPI", "0"}},
       {"Target OPENCL RTL --> ENV: LIBOMPTARGET_OPENCL_MATCH_SINCOSPI=0"},
       {}},
      {"bad device type",
       {{"LIBOMPTARGET_DEVICETYPE", "fpga"}},
       {"Target OPENCL RTL --> Warning: Invalid or unsupported LIBOMPTARGET_DEVICETYPE=fpga",
        "Target OPENCL RTL --> Target device type is set to GPU"},
       {}},
      {"bad dynamic memory method",
       {{"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "100,a"}},
       {"Target OPENCL RTL --> Ignoring incorrect value for LIBOMPTARGET_DYNAMIC_MEMORY_SIZE"},
       {}},
      {"thin threads out of range",
       {{"LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD", "1.5"}},
       {"Target OPENCL RTL --> Value of LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD must be a "
        "non-negative floating-point number not greater than 1.0.",
        "Target OPENCL RTL --> Using default value: 0.100000"},
       {"Error parsing"}},
      {"thin threads range error",
       {{"LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD", "1e999"}},
       {"Target OPENCL RTL --> Error parsing value of LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD: "
        "Numerical result out of range",
        "Target OPENCL RTL --> Using default value: 0.100000"},
       {}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    EnvironmentList Env = C.Env;
    Env.emplace_back("LIBOMPTARGET_DEBUG", "1");
    ChildResult R = cycle(Env);
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    for (const std::string &P : C.Present)
      EXPECT_TRUE(hasLine(R.Stderr, P)) << P << "\n" << R.Stderr;
    for (const std::string &A : C.Absent)
      EXPECT_EQ(R.Stderr.find(A), std::string::npos) << A << "\n" << R.Stderr;
  }
}

TEST(OptionMessages, ThinThreadsMessagesInOrder) {
  ChildResult R = cycle({{"LIBOMPTARGET_DEBUG", "1"},
                         {"LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD", "-1e999"}});
  size_t A = R.Stderr.find("Error parsing value");
  size_t B = R.Stderr.find("must be a non-negative");
  size_t C = R.Stderr.find("Using default value");
  ASSERT_NE(A, std::string::npos);
  EXPECT_LT(A, B);
  EXPECT_LT(B, C);
  EXPECT_NE(C, std::string::npos);
}

TEST(OptionMessages, WarningsWithoutDebugging) {
  ChildResult R = cycle({{"LIBOMPTARGET_ENABLE_SIMD", "nope"},
                         {"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "3000,0"},
                         {"LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD", "7"}});
  ASSERT_EQ(R.ExitStatus, 0);
  EXPECT_EQ(R.Stderr,
            "Target OPENCL RTL --> Warning: Invalid or unsupported LIBOMPTARGET_ENABLE_SIMD=nope\n"
            "Target OPENCL RTL --> Warning: Requested dynamic memory size 3000 MB exceeds allowed "
            "limit  -- setting it to 2048 MB\n");
}
