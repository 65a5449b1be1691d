#include "openmp_part.h"

#include "child_process.h"
#include "openmp_figures.h"
#include "timing.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace bench {

namespace {

// Runs Program with Arguments in a child process with Env; the child's output comes back.
ChildResult runProgram(const EnvironmentList &Env, const std::string &Program,
                       const std::vector<std::string> &Arguments) {
  return runInChild(Env, [&] {
    std::vector<char *> Argv = {const_cast<char *>(Program.c_str())};
    for (const std::string &Argument : Arguments)
      Argv.push_back(const_cast<char *>(Argument.c_str()));
    Argv.push_back(nullptr);
    execv(Program.c_str(), Argv.data());
    std::perror(Program.c_str());
    return 127;
  });
}

bool succeeded(const std::string &What, const ChildResult &R) {
  if (R.ExitStatus == 0)
    return true;
  std::string Tail = R.Stderr.size() > 2000 ? R.Stderr.substr(R.Stderr.size() - 2000) : R.Stderr;
  std::fprintf(stderr, "offload_bench: %s failed (exit %d, signal %d):\n%s%s\n", What.c_str(),
               R.ExitStatus, R.Signal, R.Stdout.c_str(), Tail.c_str());
  return false;
}

// A temporary directory removed with its contents when the part ends.
struct ScratchDirectory {
  std::string Path;
  ScratchDirectory() {
    char Template[] = "/tmp/offload_bench_openmp_XXXXXX";
    if (mkdtemp(Template))
      Path = Template;
  }
  ~ScratchDirectory() {
    std::error_code Ignored;
    if (!Path.empty())
      std::filesystem::remove_all(Path, Ignored);
  }
};

std::string readFile(const std::string &Path) {
  std::ifstream In(Path);
  std::ostringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// The saxpy comparison, then the empty region, whose baseline comes from the timeline file.
bool benchProgramRows(Scale S, const OpenMPPrograms &P, const EnvironmentList &Env,
                      const std::string &Scratch, std::vector<Row> &Rows) {
  ChildResult Saxpy =
      runProgram(Env, P.BenchProgram, {"saxpy", std::to_string(scaled(S, 41, 15, 3))});
  bool Ok = succeeded("omp_bench saxpy", Saxpy);
  std::vector<Row> Found = parseRows(Saxpy.Stdout);
  Rows.insert(Rows.end(), Found.begin(), Found.end());

  EnvironmentList Traced = Env;
  const std::string Timeline = Scratch + "/launch-timeline.json";
  Traced.emplace_back("LIBOMPTARGET_OPENCL_TRACE_FILE", Timeline);
  ChildResult Launch =
      runProgram(Traced, P.BenchProgram, {"launch", std::to_string(scaled(S, 2001, 501, 21))});
  Ok &= succeeded("omp_bench launch", Launch);
  for (Row &R : parseRows(Launch.Stdout)) {
    R.Baseline = medianHostKernelNs(readFile(Timeline));
    if (R.Baseline < 0) {
      std::fprintf(stderr, "offload_bench: no kernel launch in the timeline %s\n", Timeline.c_str());
      Ok = false;
    }
    Rows.push_back(R);
  }
  return Ok;
}

// Each example offloaded against the same program with offloading disabled, both sides
// alternating; one run of each first, which fills the driver's kernel cache.
bool exampleRows(Scale S, const OpenMPPrograms &P, const EnvironmentList &Env,
                 std::vector<Row> &Rows) {
  struct Example {
    const char *Name;
    std::vector<std::string> SmokeArguments;
  };
  const Example Examples[] = {{"saxpy", {"100000"}},         {"heat", {"64", "20", "10"}},
                              {"dot_norm", {"100000"}},      {"matmul", {"64"}},
                              {"declare_target", {"10000"}}, {"nowait", {"10000"}},
                              {"springs", {"10000", "5"}}};
  EnvironmentList Disabled = Env;
  for (auto &[Name, Value] : Disabled)
    if (Name == "OMP_TARGET_OFFLOAD")
      Value = "DISABLED";
  const int Repetitions = scaled(S, 3, 1, 1);
  bool Ok = true;
  for (const Example &E : Examples) {
    const std::string Program = P.ExampleDir + "/" + E.Name;
    const std::vector<std::string> Arguments =
        S == Scale::Smoke ? E.SmokeArguments : std::vector<std::string>{};
    std::fprintf(stderr, "offload_bench: example %s\n", E.Name);
    std::vector<double> Offloaded, OnHost;
    bool ExampleOk = succeeded(E.Name, runProgram(Env, Program, Arguments));
    for (int Rep = 0; Rep < Repetitions && ExampleOk; ++Rep)
      for (int Side = 0; Side < 2; ++Side) {
        bool OffloadSide = (Rep + Side) % 2 == 0;
        ChildResult R = runProgram(OffloadSide ? Env : Disabled, Program, Arguments);
        double Milliseconds = exampleMilliseconds(R.Stdout);
        ExampleOk &= succeeded(E.Name, R) && Milliseconds >= 0;
        (OffloadSide ? Offloaded : OnHost).push_back(Milliseconds * 1e6);
      }
    Ok &= ExampleOk;
    if (ExampleOk)
      Rows.push_back({std::string("example.") + E.Name,
                      std::string("example ") + E.Name +
                          " offloaded (baseline: OMP_TARGET_OFFLOAD=DISABLED)",
                      median(Offloaded), median(OnHost)});
  }
  return Ok;
}

} // namespace

bool runOpenMPPart(Scale S, const OpenMPPrograms &P, std::vector<Row> &Rows) {
  if (P.BenchProgram.empty()) {
    std::fprintf(stderr, "offload_bench: OpenMP rows skipped: no compiler driver in this build\n");
    return true;
  }
  ScratchDirectory Scratch;
  if (Scratch.Path.empty()) {
    std::fprintf(stderr, "offload_bench: cannot make a scratch directory\n");
    return false;
  }
  // Offloading is mandatory: a region that fell back to the host would measure the host.
  const EnvironmentList Env = {{"OPENCL_LAYERS", P.Layers},
                               {"LIBOMPTARGET_DEVICETYPE", "cpu"},
                               {"OMP_TARGET_OFFLOAD", "MANDATORY"},
                               {"POCL_CACHE_DIR", Scratch.Path + "/pocl-cache"}};
  std::fprintf(stderr, "offload_bench: OpenMP saxpy and empty region\n");
  bool Ok = benchProgramRows(S, P, Env, Scratch.Path, Rows);
  Ok &= exampleRows(S, P, Env, Rows);
  return Ok;
}

} // namespace bench
