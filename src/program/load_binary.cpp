// Loading an offload image on a device, and the build options the host runtime may add.
#include "frame/debug.h"
#include "frame/device_check.h"
#include "frame/plugin_state.h"
#include "memory/data_alloc.h"
#include "omptargetplugin.h"
#include "ompt/ompt_state.h"
#include "profile/profiling_timer.h"
#include "profile/trace_timeline.h"
#include "program/program.h"

#include <string>

// The image and its entry table must be usable ranges and the device must be initialised; the
// host runtime promises this, but a bad descriptor must not bring the process down.
static bool isLoadable(int32_t DeviceId, const DeviceImage *Image) {
  if (!checkDeviceId(DeviceId))
    return false;
  if (!Image || !Image->BytesBegin || Image->BytesEnd < Image->BytesBegin ||
      Image->EntryTableEnd < Image->EntryTableBegin ||
      (!Image->EntryTableBegin && Image->EntryTableEnd)) {
    DP("Error: invalid device image descriptor\n");
    return false;
  }
  return true;
}

// The link options follow the compile options on a GPU for the options that change code
// generation; the blanks around the text let an option at either end match.
static void composeTargetOptions(std::string &CompilationOptions, std::string &LinkingOptions) {
  const PluginOptions &Option = DeviceInfo->Option;
  CompilationOptions += " " + Option.ExtraCompilationOptions;
  LinkingOptions += " " + Option.TargetLinkingOptions;
  if (Option.DeviceType == DeviceTypeGPU) {
    CompilationOptions = " " + CompilationOptions + " ";
    if (CompilationOptions.find(" -g ") != std::string::npos)
      LinkingOptions += " -g ";
    if (CompilationOptions.find(" -cl-opt-disable ") != std::string::npos)
      LinkingOptions += " -cl-opt-disable ";
  }
  LinkingOptions += " ";
}

TargetTable *__tgt_rtl_load_binary(int32_t DeviceId, DeviceImage *Image) {
  if (!isLoadable(DeviceId, Image))
    return nullptr;
  DP("Device %d: Loading binary from " DPxMOD "\n", DeviceId, DPxPTR(Image->BytesBegin));
  DP("Expecting to have %zu entries defined\n",
     static_cast<size_t>(Image->EntryTableEnd - Image->EntryTableBegin));

  const PluginOptions &Option = DeviceInfo->Option;
  std::string CompilationOptions =
      Option.BaseCompilationOptions + " " + Option.UserCompilationOptions;
  std::string LinkingOptions = Option.UserLinkingOptions;
  DP("Base OpenCL compilation options: %s\n", CompilationOptions.c_str());
  DP("Base OpenCL linking options: %s\n", LinkingOptions.c_str());

  // The object stays in the list whatever happens: a failed load is released at shutdown.
  std::list<OpenCLProgramTy> &Programs = DeviceInfo->Programs[DeviceId];
  Programs.emplace_back(Image, DeviceInfo->getContext(DeviceId), DeviceInfo->Devices[DeviceId],
                        DeviceId);
  OpenCLProgramTy &Program = Programs.back();

  ProfilingTimer CompileTimer("Compiling", DeviceId);
  CompileTimer.start();
  TimelineSpan CompileSpan;
  if (Program.createPrograms(CompilationOptions, LinkingOptions) != 0)
    return nullptr;
  composeTargetOptions(CompilationOptions, LinkingOptions);

  int32_t Rc = Program.compilePrograms(CompilationOptions, LinkingOptions);
  CompileTimer.stop();
  if (CompileSpan.On)
    recordHostWork(CompileSpan, TimelineKind::Compile, DeviceId);
  if (Rc == 0) {
    ProfilingTimer LinkTimer("Linking", DeviceId);
    LinkTimer.start();
    TimelineSpan LinkSpan;
    Rc = Program.linkPrograms(LinkingOptions);
    LinkTimer.stop();
    if (LinkSpan.On)
      recordHostWork(LinkSpan, TimelineKind::Link, DeviceId);
  }
  if (Rc == 0)
    Rc = Program.buildKernels();
  if (Rc != 0)
    return nullptr;
  Program.initProgramData();
  omptNotifyDeviceLoad(DeviceId, Image);
  return &Program.TargetTable;
}

// The environment wins: a text is only taken while the corresponding option is empty.
static void addBuildOption(const char *Text, std::string &Option, const char *Message) {
  if (!Text)
    return;
  if (Option.empty())
    Option = std::string(Text) + " ";
  else
    DP(Message, Option.c_str());
}

void __tgt_rtl_add_build_options(const char *CompileOptions, const char *LinkOptions) {
  if (!DeviceInfo)
    return;
  PluginOptions &Option = DeviceInfo->Option;
  addBuildOption(CompileOptions, Option.UserCompilationOptions,
                 "Respecting LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS=%s\n");
  addBuildOption(LinkOptions, Option.UserLinkingOptions,
                 "Respecting LIBOMPTARGET_OPENCL_LINKING_OPTIONS=%s\n");
}
