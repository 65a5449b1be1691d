// Build logs and specialization constants of program objects.
#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "program/program.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Writes the log without the debug prefix: it is asked for by the build-log option too, which
// works whatever the debug level.
static void printBuildLog(const char *Log, size_t Size) {
  std::fprintf(stderr, "OPENCL message: %s\n", "Target build log:");
  if (Size < 2) { // only the terminating NUL
    std::fprintf(stderr, "OPENCL message:   %s\n", "<empty>");
    return;
  }
  std::string Text(Log, strnlen(Log, Size));
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos)
      End = Text.size();
    std::fprintf(stderr, "OPENCL message:   %s\n", Text.substr(Start, End - Start).c_str());
    Start = End + 1;
  }
}

void debugPrintBuildLog(cl_program program, cl_device_id did) {
  if (StartupDebugLevel < 1 && !(DeviceInfo->Option.Flags & OptionFlagShowBuildLog))
    return;
  size_t len = 0;
  if (CL_CALL("debugPrintBuildLog", clGetProgramBuildInfo, program, did, 0x1183, 0, nullptr,
              &len) != CL_SUCCESS ||
      len == 0)
    return;
  std::vector<char> buffer(len + 1, '\0'); // one more so the text always ends
  if (CL_CALL("debugPrintBuildLog", clGetProgramBuildInfo, program, did, 0x1183, len,
              buffer.data(), nullptr) != CL_SUCCESS)
    return;
  printBuildLog(buffer.data(), len);
}

void applySpecConstants(int32_t DeviceId, cl_program Program) {
  auto SetConstant = reinterpret_cast<clSetProgramSpecializationConstant_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtSetProgramSpecializationConstant));
  if (!SetConstant) {
    DP("Error: Extension %s is not supported.\n",
       ExtensionFunctionTableNames[ExtSetProgramSpecializationConstant]);
    return;
  }
  const PluginOptions &Option = DeviceInfo->Option;
  for (size_t I = Option.SpecConstantIds.size(); I-- > 0;) {
    cl_uint Id = Option.SpecConstantIds[I];
    size_t Size = Option.SpecConstantSizes[I];
    const void *Val = Option.SpecConstantValues[I].get();
    if (CL_CALL_PTR_LOGGED(clSetProgramSpecializationConstant, SetConstant, Program, Id, Size,
                           Val) == CL_SUCCESS)
      DP("Set specialization constant '0x%X'\n", Id);
  }
}
