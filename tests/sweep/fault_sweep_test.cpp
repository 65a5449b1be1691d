// The fault-injection sweep: each session runs once cleanly, then once per OpenCL call it made with
// that one call failing. The step that made the call must report failure (or, at the few sites
// where the plugin rightly carries on without the answer, succeed), the process must neither crash
// nor hang, every later step must still work, and after shutdown the driver must hold nothing.
#include "sweep_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <map>
#include <set>

namespace {

const std::string OneGPU = "platform version=\"OpenCL 3.0 fake\"\ndevice type=gpu name=\"G\"\n";
const std::string TwoGPUs = OneGPU + "device type=gpu name=\"H\"\n";

const SweepSession Sessions[] = {
    {"tool_profile", OneGPU, 1, {{"LIBOMPTARGET_PLUGIN_PROFILE", "T"}}, true},
    {"two_devices_devlib", TwoGPUs, 2,
     {{"LIBOMPTARGET_QUVELA_LINK_LIBDEVICE", "1"}, {"LIBOMPTARGET_USE_SINGLE_CONTEXT", "1"},
      {"LIBOMPTARGET_OPENCL_USE_DRIVER_GROUP_SIZES", "1"}, {"LIBOMPTARGET_DEBUG", "1"}},
     false},
    {"simd_build_log", OneGPU, 1,
     {{"LIBOMPTARGET_ENABLE_SIMD", "1"}, {"LIBOMPTARGET_QUVELA_SHOW_BUILD_LOG", "1"},
      {"TARNO_ENABLE_OFFLOAD_ANNOTATIONS", "1"}, {"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "1,1"}},
     false},
    {"native_image", OneGPU, 1, {}, false, SweepImage::FakeNative},
};

// A device with buffer SVM only, so that the layer stands in for the shared-memory extension and
// SPIR-V; the programs it builds reach the fake driver as binaries holding the image's kernels.
const std::string SvmOnlyDevice = "device type=gpu name=\"S\" extensions=\"cl_khr_fp64\"\n"
                                  "devinfo 0x1053 u64 3\ndevinfo 0x105B unset\n";
const std::string SvmOnlyPlatform = "platform version=\"OpenCL 3.0 svm-only\"\nextfn all off\n"
                                    "binary-module \"kernel grid args=3\\nkernel vadd args=4\"\n";
const std::string SvmOnlyGPU = SvmOnlyPlatform + SvmOnlyDevice;
const std::string TwoSvmOnlyGPUs = SvmOnlyGPU + SvmOnlyDevice;

const SweepSession LayerSessions[] = {
    {"layer", SvmOnlyGPU, 1, {{"LIBOMPTARGET_QUVELA_LINK_LIBDEVICE", "1"}}, false,
     SweepImage::LayerSpirv},
    // One context for both devices: the layer builds each program for both and waits for both
    // queues before a free.
    {"layer_two_devices", TwoSvmOnlyGPUs, 2, {{"LIBOMPTARGET_USE_SINGLE_CONTEXT", "1"}}, true,
     SweepImage::LayerSpirv},
};

// A plausible error for each kind of call; the rest run out of resources.
int errorFor(const std::string &Function) {
  static const std::map<std::string, int> Codes = {
      {"clBuildProgram", -11},        {"clCompileProgram", -15},
      {"clLinkProgram", -17},         {"clDeviceMemAllocTARNO", -4},
      {"clHostMemAllocTARNO", -4},    {"clSharedMemAllocTARNO", -4},
      {"clWaitForEvents", -14},       {"clCreateKernel", -46},
      {"clGetDeviceInfo", -30},       {"clCreateContext", -6},
      {"clGetEventProfilingInfo", -7}};
  auto It = Codes.find(Function);
  return It == Codes.end() ? -5 : It->second;
}

// What a session may do, beyond failing the step, when one call fails: everything else must
// work and nothing may be left behind.
enum Allowance : unsigned {
  StepMayPass = 1,  // the plugin rightly does without the answer
  LaterMayFail = 2, // later steps that need what was lost may fail
  ObjectsStay = 4,  // the driver refused a release or the plugin cannot free: objects stay
  Ends = 8,         // a failed release at shutdown ends the process with status 1
};

struct AllowanceRule {
  const char *Function;
  const char *Step; // a step name without its device, or "" for any step
  unsigned Allowed;
};

const AllowanceRule Rules[] = {
    // Profiling is measurement: a failed timer or event query costs only its figure.
    {"clGetEventProfilingInfo", "", StepMayPass},
    {"clGetDeviceAndHostTimer", "", StepMayPass},
    // Events are released after their command completed; one the driver keeps stays alive.
    {"clReleaseEvent", "", StepMayPass | ObjectsStay},
    // Without an extension function the platform lacks that feature: what needs it fails later,
    // and without a free function memory cannot be given back.
    {"clGetExtensionFunctionAddressForPlatform", "number_of_devices",
     StepMayPass | LaterMayFail | ObjectsStay},
    // A device offload table that cannot be read does not fail the load: variables are then
    // allocated from their host copies and function pointer entries get no address.
    {"clGetDeviceGlobalVariablePointerTARNO", "load_binary", StepMayPass},
    {"clEnqueueMemcpyTARNO", "load_binary", StepMayPass},
    // Nor does a function pointer map whose globals cannot be written fail its call: the device
    // then goes without the map.
    {"clGetDeviceGlobalVariablePointerTARNO", "function_ptr_map", StepMayPass},
    {"clEnqueueMemcpyTARNO", "function_ptr_map", StepMayPass},
    // A kernel that cannot be created leaves its region without one: launching it fails.
    {"clCreateKernel", "load_binary", StepMayPass | LaterMayFail},
    // Device libraries are optional; argument names and build logs are only printed; offload
    // annotations are a debugging aid.
    {"clCreateProgramWithIL", "load_binary", StepMayPass},
    {"clGetKernelArgInfo", "load_binary", StepMayPass},
    {"clGetProgramBuildInfo", "load_binary", StepMayPass},
    {"clSetProgramSpecializationConstant", "load_binary", StepMayPass},
    // A device heap that cannot be allocated leaves the program without one: allocation in
    // device code then finds no memory, as it would in a full heap.
    {"clDeviceMemAllocTARNO", "load_binary", StepMayPass},
    // The driver's suggested group size is advice; the plugin's own sizing stands in.
    {"clGetKernelSuggestedLocalWorkSizeTARNO", "", StepMayPass},
    // Shutdown: a program or kernel the driver will not release stays, and so do the objects
    // released after it; the plugin's own memory likewise. A queue or context ends the process.
    {"clReleaseProgram", "unregister_lib", StepMayPass | ObjectsStay},
    {"clReleaseKernel", "unregister_lib", StepMayPass | ObjectsStay},
    {"clMemFreeTARNO", "unregister_lib", StepMayPass | ObjectsStay},
    {"clReleaseCommandQueue", "unregister_lib", Ends},
    {"clReleaseContext", "unregister_lib", Ends},
};

// Beside the plugin's own calls, which pass through it, the layer's calls for what it stands in
// for. A failure there must look to the plugin like a failure of the call it made.
const AllowanceRule LayerRules[] = {
    // Whether the layer serves a platform is asked when the plugin looks up the extension's
    // functions: without an answer, the function asked for is withheld.
    {"clGetDeviceIDs", "number_of_devices", StepMayPass | LaterMayFail | ObjectsStay},
    {"clGetDeviceInfo", "number_of_devices", StepMayPass | LaterMayFail | ObjectsStay},
    // The program handle of a device library; the offload table read through a copy.
    {"clCreateProgramWithSource", "load_binary", StepMayPass},
    {"clEnqueueSVMMemcpy", "load_binary", StepMayPass},
    // The function pointer map's globals, written through the layer's copy.
    {"clEnqueueSVMMemcpy", "function_ptr_map", StepMayPass},
    // Setting up a kernel of the layer's program: its creation fails.
    {"clGetKernelInfo", "load_binary", StepMayPass | LaterMayFail},
    {"clRetainProgram", "load_binary", StepMayPass | LaterMayFail},
    {"clSetKernelArgSVMPointer", "load_binary", StepMayPass | LaterMayFail},
    // The layer's own references: to a queue it waited on or wrote through, to the context that
    // holds a program's variables. One the driver keeps stays alive.
    {"clReleaseCommandQueue", "", StepMayPass | ObjectsStay | Ends},
    {"clReleaseContext", "unregister_lib", StepMayPass | ObjectsStay | Ends},
    // A released program's variables, or a released context's memory, go even when waiting for
    // the queues failed: nothing holds them any more.
    {"clRetainCommandQueue", "unregister_lib", StepMayPass},
    {"clFinish", "unregister_lib", StepMayPass},
    // What orders the layer's frees behind queued work without waiting (markers, their state,
    // a private queue and its free command): without it the layer waits on the host instead.
    {"clEnqueueMarkerWithWaitList", "", StepMayPass},
    {"clGetEventInfo", "", StepMayPass},
    {"clRetainEvent", "unregister_lib", StepMayPass},
    {"clCreateCommandQueueWithProperties", "unregister_lib", StepMayPass},
    {"clEnqueueSVMFree", "unregister_lib", StepMayPass},
};

unsigned allowanceFor(const std::string &Function, const std::string &Step, bool Layered) {
  std::string Bare = Step.substr(0, Step.find('/'));
  unsigned Allowed = 0;
  auto Add = [&](const AllowanceRule &R) {
    if (Function == R.Function && (!*R.Step || Bare == R.Step))
      Allowed |= R.Allowed;
  };
  for (const AllowanceRule &R : Rules)
    Add(R);
  if (Layered)
    for (const AllowanceRule &R : LayerRules)
      Add(R);
  return Allowed;
}

const StepReport *stepOfCall(const SessionReport &R, size_t Call) {
  for (const StepReport &S : R.Steps)
    if (Call >= S.FirstCall && Call < S.EndCall)
      return &S;
  return nullptr;
}

struct Totals {
  size_t Sites = 0, Leaks = 0, Crashes = 0;
  std::set<std::string> Functions;
};

void sweepSession(const SweepSession &Session, Totals &T) {
  SCOPED_TRACE(Session.Name);
  ChildResult Clean = runSweepSession(Session, "", 60);
  ASSERT_EQ(Clean.ExitStatus, 0) << Clean.Stderr;
  SessionReport Base = parseSessionReport(Clean.Stdout);
  for (const StepReport &S : Base.Steps)
    EXPECT_EQ(S.Outcome, "ok") << S.Name << "\n" << Clean.Stderr;
  ASSERT_EQ(Base.LiveObjects, 0) << Clean.Stdout << Clean.Stderr;
  ASSERT_FALSE(Base.Calls.empty());

  std::map<std::string, size_t> Seen;
  for (size_t Call = 0; Call < Base.Calls.size(); ++Call) {
    const std::string &Function = Base.Calls[Call];
    size_t Nth = ++Seen[Function];
    if (Function == "clSVMFree")
      continue; // it returns nothing: there is no failure to give
    const StepReport *Site = stepOfCall(Base, Call);
    ASSERT_NE(Site, nullptr) << Call;
    std::string Fault = "fail " + Function + " nth=" + std::to_string(Nth) +
                        " err=" + std::to_string(errorFor(Function));
    std::string Where = Fault + " (call " + std::to_string(Call) + " in " + Site->Name + ")";
    ChildResult R = runSweepSession(Session, Fault, 60);
    ++T.Sites;
    T.Functions.insert(Function);
    if (R.Signal != 0) {
      ++T.Crashes;
      ADD_FAILURE() << Where << ": signal " << R.Signal << "\n" << R.Stderr;
      continue;
    }
    unsigned Allowed =
        allowanceFor(Function, Site->Name, Session.Image == SweepImage::LayerSpirv);
    if ((Allowed & Ends) && R.ExitStatus == 1)
      continue;
    if (R.ExitStatus != 0) {
      ADD_FAILURE() << Where << ": exit " << R.ExitStatus << "\n" << R.Stderr;
      continue;
    }
    SessionReport Run = parseSessionReport(R.Stdout);
    if (Run.Steps.size() != Base.Steps.size()) {
      ADD_FAILURE() << Where << ": steps missing\n" << R.Stdout << R.Stderr;
      continue;
    }
    for (size_t I = 0; I < Run.Steps.size(); ++I) {
      const StepReport &S = Run.Steps[I];
      if (S.Name == Site->Name) {
        bool Expected = S.Outcome == "fail" || (S.Outcome == "ok" && (Allowed & StepMayPass));
        EXPECT_TRUE(Expected) << Where << ": the step reported " << S.Outcome << "\n" << R.Stderr;
      } else if (S.FirstCall < Call) {
        EXPECT_EQ(S.Outcome, "ok") << Where << ": earlier step " << S.Name;
      } else {
        bool Expected = S.Outcome == "ok" || S.Outcome == "skip" ||
                        (S.Outcome == "fail" && (Allowed & LaterMayFail));
        EXPECT_TRUE(Expected) << Where << ": later step " << S.Name << " reported " << S.Outcome
                              << "\n" << R.Stderr;
      }
    }
    if (Run.LiveObjects != 0 && !(Allowed & ObjectsStay)) {
      ++T.Leaks;
      ADD_FAILURE() << Where << ": driver objects left after shutdown: " << Run.Live;
    }
  }
}

void printTotals(const char *What, size_t Sessions, const Totals &T) {
  std::printf("%s: sessions %zu, call sites %zu, functions %zu, leaks %zu, crashes %zu\n", What,
              Sessions, T.Sites, T.Functions.size(), T.Leaks, T.Crashes);
}

TEST(FaultSweep, PluginCalls) {
  Totals T;
  for (const SweepSession &Session : Sessions)
    sweepSession(Session, T);
  printTotals("sweep", std::size(Sessions), T);
  // Every traced OpenCL function the plugin calls was failed, but for the platform query: the
  // loader answers it itself.
  std::ifstream List(CL_TRACE_LIST);
  std::string Line, Missed;
  std::regex Traced("^CL_TRACE_(IMPORT|BY_ADDRESS)\\((\\w+),");
  std::smatch M;
  size_t Listed = 0;
  while (std::getline(List, Line))
    if (std::regex_search(Line, M, Traced) && ++Listed && !T.Functions.count(M[2]) &&
        M[2] != "clGetPlatformIDs")
      Missed += " " + M[2].str();
  EXPECT_GT(Listed, 30u);
  EXPECT_EQ(Missed, "");
}

// The layer's own calls into the driver: the same sessions with the layer between the plugin and
// the fake driver, each call the layer makes failed in turn.
TEST(FaultSweep, LayerCalls) {
#ifndef LAYER_PATH
  GTEST_SKIP() << "the layer is not part of this build";
#endif
  Totals T;
  for (const SweepSession &Session : LayerSessions)
    sweepSession(Session, T);
  printTotals("sweep through the layer", std::size(LayerSessions), T);
  // The layer makes its own calls for memory, copies and programs: those must be among them.
  for (const char *Function : {"clSVMAlloc", "clEnqueueSVMMemcpy", "clFinish",
                               "clCreateProgramWithBinary", "clBuildProgram"})
    EXPECT_EQ(T.Functions.count(Function), 1u) << Function;
}

} // namespace
