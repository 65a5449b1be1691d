// omptarget-cc / omptarget-c++: compiles OpenMP programs for this project's OpenCL offload path.
//
//   omptarget-cc [clang options] file.c... [objects, libraries] -o prog
//
// Each source file goes through clang-22 twice, once for the host and once for the device
// (spirv64, with the device runtime linked in before optimisation, always optimised). The device
// code's program variables are moved to the global address space and the device offload table
// of its declare-target variables is added; the result becomes SPIR-V embedded in the host
// object. Linking adds libomptarget.so with a run path, so the program finds the host runtime and
// the plugin beside it by itself. -c stops after the objects; -E, -S and -fsyntax-only run
// clang-22 alone with the offload flags.
#include "command.h"
#include "device_ir.h"
#include "kernel_records.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Tools {
  std::string Clang, LLVMBin, LibDir, Runtime;
  bool Verbose = false;
  // --offload-cpu: target regions tuned for CPU devices, whose drivers run a work-group's
  // work-items one after another (see kernel_records.h); on a GPU such teams would waste it.
  bool CpuTuned = false;
};

const char *const kOffload[] = {"-fopenmp", "-fopenmp-targets=spirv64"};

bool hasSuffix(const std::string &S, const char *Suffix) {
  size_t N = std::strlen(Suffix);
  return S.size() >= N && S.compare(S.size() - N, N, Suffix) == 0;
}

bool isSource(const std::string &Arg) {
  for (const char *Suffix : {".c", ".cc", ".cpp", ".cxx", ".C", ".c++", ".i", ".ii"})
    if (hasSuffix(Arg, Suffix))
      return Arg[0] != '-';
  return false;
}

// Options whose value is the next argument.
bool takesValue(const std::string &Arg) {
  for (const char *Option : {"-o", "-I", "-D", "-U", "-include", "-isystem", "-iquote", "-x",
                             "-L", "-l", "-MF", "-MT", "-MQ", "-Xlinker", "-Xclang", "-idirafter",
                             "-imacros", "-isysroot", "--sysroot"})
    if (Arg == Option)
      return true;
  return false;
}

bool isLinkOption(const std::string &Arg) {
  return Arg.compare(0, 2, "-l") == 0 || Arg.compare(0, 2, "-L") == 0 ||
         Arg.compare(0, 4, "-Wl,") == 0 || Arg == "-Xlinker" || Arg == "-shared" ||
         Arg == "-static" || Arg == "-pthread" || Arg == "-rdynamic";
}

std::string directoryOf(const std::string &Path) {
  size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? "." : Path.substr(0, Slash);
}

std::string baseName(const std::string &Path) {
  size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

bool exists(const std::string &Path) { return access(Path.c_str(), F_OK) == 0; }

// The tools: clang-22 (or its C++ form) and the LLVM 22 tools beside it; the runtime files in the
// lib folder next to this program's bin folder.
bool findTools(const char *Argv0, bool CPlusPlus, Tools &T) {
  char Self[PATH_MAX];
  ssize_t N = readlink("/proc/self/exe", Self, sizeof(Self) - 1);
  std::string Exe = N > 0 ? std::string(Self, N) : std::string(Argv0);
  T.LibDir = directoryOf(directoryOf(Exe)) + "/lib";
  T.Runtime = T.LibDir + "/libomptarget-spirv64.bc";
  T.LLVMBin = OMPTARGET_LLVM_BIN;
  T.Clang = T.LLVMBin + (CPlusPlus ? "/clang++" : "/clang");
  if (!exists(T.Clang)) {
    std::fprintf(stderr, "omptarget-cc: clang-22 not found (%s; package clang-22)\n",
                 T.Clang.c_str());
    return false;
  }
  if (!exists(T.Runtime)) {
    std::fprintf(stderr, "omptarget-cc: the OpenMP device runtime is missing (%s)\n",
                 T.Runtime.c_str());
    return false;
  }
  return true;
}

std::vector<std::string> join(std::vector<std::string> A, const std::vector<std::string> &B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

// Compiles Source into the host object Object with its device image embedded; 0 or the failing
// tool's status.
int compileSource(const Tools &T, const std::vector<std::string> &Flags,
                  const std::string &Source, const std::string &Object, const std::string &Work) {
  std::string Stem = Work + "/" + baseName(Source);
  std::vector<std::string> Base = {T.Clang, kOffload[0], kOffload[1]};
  Base = join(Base, Flags);
  // Host IR: the host code and the offload entries the program registers.
  std::string HostIR = Stem + ".host.ll";
  if (int Rc = runCommand(join(Base, {"--offload-host-only", "-S", "-emit-llvm", Source, "-o",
                                      HostIR}),
                          T.Verbose))
    return Rc;
  // Device IR as the front end writes it; the runtime is linked in after the rewrites below.
  std::string DeviceIR = Stem + ".device.ll";
  if (int Rc = runCommand(join(Base, {"--offload-device-only", "-O2", "-Xclang",
                                      "-disable-llvm-passes", "-nogpulib", "-S", "-emit-llvm",
                                      Source, "-o", DeviceIR}),
                          T.Verbose))
    return Rc;
  std::string Host, Device;
  if (!readFile(HostIR, Host) || !readFile(DeviceIR, Device)) {
    std::fprintf(stderr, "omptarget-cc: cannot read %s\n", DeviceIR.c_str());
    return 1;
  }
  std::vector<std::string> Limits = deviceLimitProblems(Device);
  for (const std::string &Problem : Limits)
    std::fprintf(stderr, "omptarget-cc: %s: %s: more than the OpenMP device runtime provides\n",
                 Source.c_str(), Problem.c_str());
  if (!Limits.empty())
    return 1;
  if (T.Verbose)
    for (const std::string &Kernel : genericKernels(Device))
      std::fprintf(stderr,
                   "omptarget-cc: %s: %s runs in generic mode: its parallel regions run on one "
                   "thread per team\n",
                   Source.c_str(), Kernel.c_str());
  std::vector<std::string> Formats;
  Device = constantPrintfFormats(Device, Formats);
  std::vector<std::string> Moved = defaultSpaceGlobals(Device);
  std::vector<std::string> BlockKernels;
  std::string Fixed = bindTaskEntries(lowerFloatAtomics(moveToGlobalSpace(Device, Moved)));
  if (T.CpuTuned)
    Fixed = defaultDistributeUnchunked(Fixed, BlockKernels);
  // The table only where the program has variables: with several sources, one file's table is
  // the one the plugin finds.
  std::vector<HostEntry> Entries = hostEntries(Host);
  bool HasVariables = false;
  for (const HostEntry &E : Entries)
    HasVariables |= E.Size > 0;
  if (HasVariables)
    Fixed += offloadTableIR(Entries, Moved);
  Fixed += kernelInfoIR(Device, BlockKernels);
  std::string FixedIR = Stem + ".device.fixed.ll", LinkedIR = Stem + ".device.linked.ll";
  if (!writeFile(FixedIR, Fixed)) {
    std::fprintf(stderr, "omptarget-cc: cannot write %s\n", FixedIR.c_str());
    return 1;
  }
  // The runtime's functions the program uses, made internal to it.
  if (int Rc = runCommand({T.LLVMBin + "/llvm-link", "--only-needed", "--internalize", "-S",
                           FixedIR, T.Runtime, "-o", LinkedIR},
                          T.Verbose))
    return Rc;
  std::string Linked;
  std::string UnifiedIR = Stem + ".device.unified.ll", DeviceObject = Stem + ".device.o";
  if (readFile(LinkedIR, Linked)) {
    // A construct the device runtime cannot run: said here, not at run time.
    std::vector<std::string> Missing = missingRuntimeFunctions(Linked);
    for (const std::string &Name : Missing)
      std::fprintf(stderr,
                   "omptarget-cc: %s: the target regions use %s, which the OpenMP device runtime "
                   "does not provide (a construct the OpenCL path cannot run)\n",
                   Source.c_str(), Name.c_str());
    if (!Missing.empty())
      return 1;
  }
  std::string Unified =
      inlineEverything(unifyCallingConventions(exportProgramData(settleTeamStackUse(Linked))));
  if (Linked.empty() || !writeFile(UnifiedIR, Unified)) {
    std::fprintf(stderr, "omptarget-cc: cannot rewrite %s\n", LinkedIR.c_str());
    return 1;
  }
  // Optimised (device code only works optimised) without the OpenMP optimisations: they guess
  // the callee of the runtime's calls through function pointers among the known regions
  // (comparisons of function addresses, which SPIR-V cannot express, where inlining gives direct
  // calls), and take team queries such as omp_get_num_threads as constant within a function,
  // which regions inlined into their kernels are not.
  std::string OptimisedIR = Stem + ".device.opt.ll", FinalIR = Stem + ".device.final.ll";
  if (int Rc = runCommand({T.Clang, "--target=spirv64", "-O2", "-mllvm", "-openmp-opt-disable",
                           "-S", "-emit-llvm", "-x", "ir", UnifiedIR, "-o", OptimisedIR},
                          T.Verbose))
    return Rc;
  std::string Optimised;
  if (!readFile(OptimisedIR, Optimised) ||
      !writeFile(FinalIR, lowerOverflowIntrinsics(dropFunctionAddressStores(Optimised)))) {
    std::fprintf(stderr, "omptarget-cc: cannot rewrite %s\n", OptimisedIR.c_str());
    return 1;
  }
  // SPIR-V code generation only, without its IR preparation, which forms add-with-carry
  // instructions the translator cannot read.
  if (int Rc = runCommand({T.Clang, "--target=spirv64", "-O2", "-Xclang", "-disable-llvm-passes",
                           "-mllvm", "-disable-cgp", "-c", "-x", "ir", FinalIR, "-o",
                           DeviceObject},
                          T.Verbose))
    return Rc;
  std::string Package = Stem + ".offload";
  if (int Rc = runCommand({T.LLVMBin + "/llvm-offload-binary", "-o", Package,
                           "--image=file=" + DeviceObject +
                               ",triple=spirv64,arch=generic,kind=openmp"},
                          T.Verbose))
    return Rc;
  return runCommand({T.Clang, kOffload[0], kOffload[1], "--offload-host-only", "-c", "-x", "ir",
                     HostIR, "-Xclang", "-fembed-offload-object=" + Package, "-o", Object},
                    T.Verbose);
}

} // namespace

int main(int Argc, char **Argv) {
  std::string Name = baseName(Argv[0]);
  bool CPlusPlus = hasSuffix(Name, "++");
  Tools T;
  const char *Verbose = std::getenv("OMPTARGET_CC_VERBOSE");
  T.Verbose = Verbose && *Verbose && std::strcmp(Verbose, "0") != 0;
  if (!findTools(Argv[0], CPlusPlus, T))
    return 1;

  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  std::vector<std::string> CompileFlags, LinkArgs, Sources;
  std::string Output;
  bool CompileOnly = false, ClangAlone = false;
  for (size_t I = 0; I < Args.size(); ++I) {
    const std::string &Arg = Args[I];
    if (Arg == "-E" || Arg == "-S" || Arg == "-fsyntax-only" || Arg == "-M" || Arg == "-MM" ||
        Arg == "--version" || Arg == "-###")
      ClangAlone = true;
    if (Arg == "--offload-cpu") {
      T.CpuTuned = true;
    } else if (Arg == "-c") {
      CompileOnly = true;
    } else if (Arg == "-o" && I + 1 < Args.size()) {
      Output = Args[++I];
    } else if (isSource(Arg)) {
      Sources.push_back(Arg);
    } else if (isLinkOption(Arg)) {
      LinkArgs.push_back(Arg);
      if (takesValue(Arg) && I + 1 < Args.size())
        LinkArgs.push_back(Args[++I]);
    } else if (!Arg.empty() && Arg[0] != '-') {
      LinkArgs.push_back(Arg); // objects and libraries
    } else {
      CompileFlags.push_back(Arg);
      if (takesValue(Arg) && I + 1 < Args.size())
        CompileFlags.push_back(Args[++I]);
    }
  }

  if (ClangAlone) {
    std::vector<std::string> Command = {T.Clang, kOffload[0], kOffload[1], "-nogpulib"};
    for (const std::string &Arg : Args)
      if (Arg != "--offload-cpu")
        Command.push_back(Arg);
    return runCommand(Command, T.Verbose);
  }
  if (Sources.empty() && LinkArgs.empty()) {
    std::fprintf(stderr, "omptarget-cc: no input files\n");
    return 1;
  }
  if (CompileOnly && !Output.empty() && Sources.size() > 1) {
    std::fprintf(stderr, "omptarget-cc: -o with -c and several sources\n");
    return 1;
  }

  const char *TmpDir = std::getenv("TMPDIR");
  std::string WorkTemplate = std::string(TmpDir && *TmpDir ? TmpDir : "/tmp") + "/omptarget-cc.XXXXXX";
  std::vector<char> WorkBuffer(WorkTemplate.begin(), WorkTemplate.end());
  WorkBuffer.push_back('\0');
  if (!mkdtemp(WorkBuffer.data())) {
    std::fprintf(stderr, "omptarget-cc: cannot make a temporary folder in %s\n",
                 WorkTemplate.c_str());
    return 1;
  }
  std::string Work = WorkBuffer.data();

  int Rc = 0;
  std::vector<std::string> Objects;
  for (const std::string &Source : Sources) {
    std::string Object;
    if (CompileOnly) {
      Object = !Output.empty() ? Output : baseName(Source);
      if (Output.empty())
        Object = Object.substr(0, Object.rfind('.')) + ".o";
    } else {
      Object = Work + "/" + std::to_string(Objects.size()) + "-" + baseName(Source) + ".o";
    }
    Rc = compileSource(T, CompileFlags, Source, Object, Work);
    if (Rc)
      break;
    Objects.push_back(Object);
  }
  if (!Rc && !CompileOnly) {
    std::vector<std::string> Link = {T.Clang, kOffload[0], kOffload[1]};
    Link = join(Link, CompileFlags);
    Link = join(Link, Objects);
    Link = join(Link, LinkArgs);
    Link = join(Link, {"-L" + T.LibDir, "-Wl,-rpath," + T.LibDir, "-lomptarget"});
    if (!Output.empty())
      Link = join(Link, {"-o", Output});
    if (!exists(T.LibDir + "/libomptarget.so")) {
      std::fprintf(stderr, "omptarget-cc: the OpenMP host runtime is missing (%s/libomptarget.so)\n",
                   T.LibDir.c_str());
      Rc = 1;
    } else {
      Rc = runCommand(Link, T.Verbose);
    }
  }
  if (!std::getenv("OMPTARGET_CC_KEEP"))
    runCommand({"rm", "-rf", Work}, false);
  return Rc;
}
