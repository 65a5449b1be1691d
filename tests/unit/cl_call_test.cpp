// The checked-call convention at the debug level this test binary was started with (CTest runs
// it once per level). The OpenCL functions here are local stand-ins with OpenCL signatures.
#include "child_process.h"
#include "frame/cl_call.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

namespace {

cl_int NextResult = CL_SUCCESS;
int Calls = 0;
cl_int fakeFinish(cl_command_queue) {
  ++Calls;
  return NextResult;
}
cl_context fakeCreate(cl_uint, cl_int *Err) {
  ++Calls;
  *Err = NextResult;
  return NextResult == CL_SUCCESS ? reinterpret_cast<cl_context>(0x10) : nullptr;
}

int32_t levelOfThisRun() {
  const char *Text = std::getenv("LIBOMPTARGET_DEBUG");
  return Text ? static_cast<int32_t>(std::atol(Text)) : 0;
}

std::string prefix() {
  int32_t Level = levelOfThisRun();
  return static_cast<uint32_t>(Level) > 2 ? "Target OPENCL RTL \\(pid:[0-9]+\\)  --> "
                                          : "Target OPENCL RTL --> ";
}

// Expected lines for one call: the caller line at start-up level 2 and above, the error when
// the call failed and debugging is on.
std::vector<std::string> expectedLines(const char *Caller, const char *Error) {
  std::vector<std::string> Lines;
  int32_t Level = levelOfThisRun();
  if (Level >= 2)
    Lines.push_back(prefix() + Caller);
  if (Error && Level != 0)
    Lines.push_back(prefix() + Error);
  return Lines;
}

void expectLines(const std::string &Out, const std::vector<std::string> &Expected) {
  std::vector<std::string> Lines = splitLines(Out);
  ASSERT_EQ(Lines.size(), Expected.size()) << Out;
  for (size_t I = 0; I < Lines.size(); ++I)
    EXPECT_TRUE(std::regex_match(Lines[I], std::regex(Expected[I]))) << Lines[I];
}

} // namespace

TEST(CheckedCall, StartupLevelIsTheEnvironmentsLevel) {
  EXPECT_EQ(StartupDebugLevel, levelOfThisRun());
}

TEST(CheckedCall, SuccessFailureWarningAndLogged) {
  cl_command_queue Queue = nullptr;
  struct Case {
    const char *Title;
    cl_int Result;
    std::function<cl_int()> Call;
    const char *CallerLine;
    const char *ErrorLine; // null: none expected
  } Cases[] = {
      {"success", CL_SUCCESS, [&] { return CL_CALL("start", fakeFinish, Queue); },
       "CL_CALLER: fakeFinish \\( Queue \\)", nullptr},
      {"failure", CL_INVALID_COMMAND_QUEUE,
       [&] { return CL_CALL("stop", fakeFinish, Queue); }, "CL_CALLER: fakeFinish \\( Queue \\)",
       "Error: stop:fakeFinish failed with error code -36, CL_INVALID_COMMAND_QUEUE"},
      {"unknown code", -1001, [&] { return CL_CALL("stop", fakeFinish, Queue); },
       "CL_CALLER: fakeFinish \\( Queue \\)",
       "Error: stop:fakeFinish failed with error code -1001, Unknown Error"},
      {"warning", CL_PROFILING_INFO_NOT_AVAILABLE,
       [&] { return CL_CALL_WARN("update", fakeFinish, Queue); },
       "CL_CALLER: fakeFinish \\( Queue \\)",
       "Warning: update:fakeFinish returned -7, CL_PROFILING_INFO_NOT_AVAILABLE"},
      {"logged only", CL_OUT_OF_RESOURCES, [&] { return CL_CALL_LOGGED(fakeFinish, Queue); },
       "CL_CALLER: fakeFinish \\( Queue \\)", nullptr},
      {"handle through error code", CL_OUT_OF_HOST_MEMORY,
       [&] {
         cl_int Rc = CL_SUCCESS;
         cl_context Ctx = CL_INVOKE_RC(fakeCreate, Rc, 1);
         EXPECT_EQ(Ctx, nullptr);
         return CL_CHECK_RC("__tgt_rtl_init_device", fakeCreate, Rc);
       },
       "CL_CALLER: fakeCreate \\( 1 \\)",
       "Error: __tgt_rtl_init_device:fakeCreate failed with error code -6, CL_OUT_OF_HOST_MEMORY"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    NextResult = C.Result;
    Calls = 0;
    testing::internal::CaptureStderr();
    cl_int Rc = C.Call();
    std::string Out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Rc, C.Result);
    EXPECT_EQ(Calls, 1);
    expectLines(Out, expectedLines(C.CallerLine, C.ErrorLine));
  }
}

// A function fetched by address that the tracing layer does not list: its caller's line, then a
// direct call through the pointer.
TEST(CheckedCall, ExtensionFunctionByPointer) {
  cl_command_queue Queue = nullptr;
  auto *Ptr = &fakeFinish;
  NextResult = CL_INVALID_VALUE;
  Calls = 0;
  testing::internal::CaptureStderr();
  cl_int Rc = CL_CALL_PTR("submitData", fakeVendorFinish, Ptr, Queue);
  std::string Out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Rc, CL_INVALID_VALUE);
  EXPECT_EQ(Calls, 1);
  expectLines(Out, expectedLines("CL_CALLER: fakeVendorFinish \\( Queue \\)",
                                 "Error: submitData:fakeVendorFinish failed with error code "
                                 "-30, CL_INVALID_VALUE"));
}

TEST(FatalError, MessageAndExitStatus) {
  ChildResult R = runInChild({}, []() -> int { fatalError("dataAlloc", "unknown allocation kind"); });
  EXPECT_EQ(R.ExitStatus, 1);
  EXPECT_EQ(R.Stderr,
            "Target OPENCL RTL --> Error: dataAlloc failed (unknown allocation kind) -- exiting...\n");
}

TEST(Warning, PrintedWhateverTheLevel) {
  testing::internal::CaptureStderr();
  warningMessage("Warning: %s is being deprecated. Use %s instead.\n", "A", "B");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Target OPENCL RTL --> Warning: A is being deprecated. Use B instead.\n");
}
