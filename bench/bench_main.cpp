// offload_bench: what the plugin and the layer cost over the OpenCL driver beneath them.
//
//   offload_bench [--quick | --smoke] [--only fake|device|load|openmp] [--json FILE]
//
// Each part runs in a child process with its own environment (the plugin reads its options once,
// the ICD loader fixes its platforms once) and compares plugin calls with plain driver calls made
// in the same child. The parent prints one table, the ratios line and writes the same figures as
// JSON (default offload_bench.json).
#include "fake_driver_run.h"
#include "figures.h"
#include "openmp_part.h"
#include "parts.h"
#include "ratios.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace bench;

namespace {

struct Options {
  Scale Size = Scale::Full;
  std::string JsonPath = "offload_bench.json";
  std::string Only; // one part alone, for profiling it
};

bool parseOptions(int Argc, char **Argv, Options &O) {
  for (int I = 1; I < Argc; ++I) {
    if (!std::strcmp(Argv[I], "--quick"))
      O.Size = Scale::Quick;
    else if (!std::strcmp(Argv[I], "--smoke"))
      O.Size = Scale::Smoke;
    else if (!std::strcmp(Argv[I], "--json") && I + 1 < Argc)
      O.JsonPath = Argv[++I];
    else if (!std::strcmp(Argv[I], "--only") && I + 1 < Argc)
      O.Only = Argv[++I];
    else
      return false;
  }
  return true;
}

const EnvironmentList DeviceEnvironment = {{"OPENCL_LAYERS", BENCH_LAYER_PATH},
                                           {"LIBOMPTARGET_DEVICETYPE", "cpu"}};

// Runs one part; its rows are appended, or its failure reported.
bool collect(const std::string &Name, const ChildResult &R, std::vector<Row> &Rows) {
  std::vector<Row> Found = parseRows(R.Stdout);
  Rows.insert(Rows.end(), Found.begin(), Found.end());
  if (R.ExitStatus == 0)
    return true;
  std::string Tail = R.Stderr.size() > 2000 ? R.Stderr.substr(R.Stderr.size() - 2000) : R.Stderr;
  std::fprintf(stderr, "offload_bench: part %s failed (exit %d, signal %d):\n%s\n", Name.c_str(),
               R.ExitStatus, R.Signal, Tail.c_str());
  return false;
}

bool runFakeDriverParts(Scale S, std::vector<Row> &Rows) {
  bool Ok = true;
  const std::pair<const char *, EnvironmentList> Variants[] = {
      {"", {}},
      {"profile", {{"LIBOMPTARGET_PLUGIN_PROFILE", "T"}}},
      {"debug1", {{"LIBOMPTARGET_DEBUG", "1"}}}};
  for (const auto &[Variant, Env] : Variants) {
    std::string V = Variant;
    std::fprintf(stderr, "offload_bench: fake driver%s%s\n", V.empty() ? "" : ", ", V.c_str());
    ChildResult R = runWithFakeDriver(
        {BENCH_FAKECL_PATH, BENCH_PLUGIN_PATH, "", "", Env},
        [&](HostPlugin &P, const fakecl_control_v1 &Fake) { return fakeDriverPart(S, V, P, Fake); });
    Ok &= collect("fake driver " + V, R, Rows);
  }
  return Ok;
}

int withPlugin(const std::function<int(HostPlugin &)> &Body) {
  HostPlugin Plugin;
  std::string Error;
  if (!loadHostPlugin(BENCH_PLUGIN_PATH, Plugin, Error)) {
    std::fprintf(stderr, "offload_bench: cannot load the plugin: %s\n", Error.c_str());
    return 1;
  }
  return Body(Plugin);
}

bool runDevicePart(Scale S, std::vector<Row> &Rows) {
  std::fprintf(stderr, "offload_bench: device through the layer\n");
  ChildResult R = runInChild(DeviceEnvironment, [&] {
    return withPlugin([&](HostPlugin &P) { return devicePart(S, P); });
  });
  return collect("device", R, Rows);
}

// Loads in fresh processes, each with an empty kernel cache of the CPU driver so that a first load
// builds as on a fresh machine (and a second load finds what the first one cached); with several
// repetitions each row is the median over them.
bool runLoadParts(Scale S, std::vector<Row> &Rows) {
  bool Ok = true;
  const int Repetitions = scaled(S, 3, 1, 1);
  std::vector<int> Counts = S == Scale::Smoke ? std::vector<int>{1} : std::vector<int>{1, 10, 100};
  for (int Count : Counts)
    for (bool DeviceLibraries : {false, true}) {
      if (S == Scale::Smoke && DeviceLibraries)
        continue;
      EnvironmentList Env = DeviceEnvironment;
      // The clock layer goes first in the list: the plugin's layer wraps it.
      Env[0].second = std::string(BENCH_DRIVER_CLOCK_PATH) + ":" + BENCH_LAYER_PATH;
      if (DeviceLibraries)
        Env.emplace_back("LIBOMPTARGET_QUVELA_LINK_LIBDEVICE", "1");
      std::fprintf(stderr, "offload_bench: load of %d region(s)%s\n", Count,
                   DeviceLibraries ? " with device libraries" : "");
      std::map<std::string, std::vector<Row>> Samples;
      std::vector<std::string> Order;
      for (int Rep = 0; Rep < Repetitions; ++Rep) {
        char CacheDir[] = "/tmp/offload_bench_cache_XXXXXX";
        if (!mkdtemp(CacheDir)) {
          std::fprintf(stderr, "offload_bench: cannot make a cache directory\n");
          return false;
        }
        EnvironmentList RepEnv = Env;
        RepEnv.emplace_back("POCL_CACHE_DIR", CacheDir);
        ChildResult R = runInChild(RepEnv, [&] {
          return withPlugin([&](HostPlugin &P) { return loadPart(Count, DeviceLibraries, P); });
        });
        std::error_code Ignored;
        std::filesystem::remove_all(CacheDir, Ignored);
        std::vector<Row> Found;
        Ok &= collect("load", R, Found);
        for (const Row &Row : Found) {
          if (Samples[Row.Key].empty())
            Order.push_back(Row.Key);
          Samples[Row.Key].push_back(Row);
        }
      }
      for (const std::string &Key : Order) {
        std::vector<double> Values, Baselines;
        for (const Row &Sample : Samples[Key]) {
          Values.push_back(Sample.Value);
          Baselines.push_back(Sample.Baseline);
        }
        Row Median = Samples[Key][0];
        Median.Value = median(Values);
        Median.Baseline = median(Baselines);
        Rows.push_back(Median);
      }
    }
  return Ok;
}

} // namespace

int main(int Argc, char **Argv) {
  Options O;
  if (!parseOptions(Argc, Argv, O) ||
      !(O.Only.empty() || O.Only == "fake" || O.Only == "device" || O.Only == "load" ||
        O.Only == "openmp")) {
    std::fprintf(stderr, "usage: offload_bench [--quick | --smoke] [--only fake|device|load|openmp] "
                         "[--json FILE]\n");
    return 2;
  }
  std::vector<Row> Rows;
  bool Ok = true;
  if (O.Only.empty() || O.Only == "fake")
    Ok &= runFakeDriverParts(O.Size, Rows);
  if (O.Only.empty() || O.Only == "device")
    Ok &= runDevicePart(O.Size, Rows);
  if (O.Only.empty() || O.Only == "load")
    Ok &= runLoadParts(O.Size, Rows);
  if (O.Only.empty() || O.Only == "openmp")
    Ok &= runOpenMPPart(O.Size, {BENCH_OMP_PROGRAM, BENCH_EXAMPLE_DIR, BENCH_CL_LAYERS}, Rows);

  std::printf("%s", formatTable(Rows).c_str());
  Ratios Figures = ratios(Rows);
  std::printf("%s\n", ratiosLine(Figures).c_str());
  if (!writeJson(O.JsonPath, Rows, Figures)) {
    std::fprintf(stderr, "offload_bench: cannot write %s\n", O.JsonPath.c_str());
    Ok = false;
  }
  return Ok ? 0 : 1;
}
