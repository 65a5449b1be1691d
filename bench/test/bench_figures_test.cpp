// The benchmark's arithmetic and reporting: medians, the rows a child reports and the parent
// reads back, the table, and the ratios line composed from the rows.
#include "figures.h"
#include "openmp_figures.h"
#include "ratios.h"
#include "timing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace bench;

namespace {

TEST(BenchFigures, MedianOfOddEvenAndEmptySamples) {
  const std::pair<std::vector<double>, double> Cases[] = {
      {{}, 0}, {{7}, 7}, {{5, 1, 3}, 3}, {{4, 1, 3, 2}, 2.5}, {{9, 9, 1, 9}, 9}};
  for (const auto &[Samples, Expected] : Cases)
    EXPECT_EQ(median(Samples), Expected) << ::testing::PrintToString(Samples);
}

TEST(BenchFigures, DurationsPickTheirUnit) {
  const std::pair<double, const char *> Cases[] = {
      {0, "0 ns"},        {812, "812 ns"},      {999.4, "999 ns"},  {1000, "1.0 us"},
      {21449, "21.4 us"}, {3.2e6, "3.20 ms"}, {1.25e9, "1.25 s"}};
  for (const auto &[Ns, Text] : Cases)
    EXPECT_EQ(formatNs(Ns), Text) << Ns;
}

TEST(BenchFigures, RowsSurviveTheTripFromChildToParent) {
  ::testing::internal::CaptureStdout();
  std::printf("other output\n");
  emitRow("launch.10", "launch, 10 live allocations", 17400.04, 20900);
  std::printf("row\ttoo\tfew\n");
  emitRow("range.10", "range query", 78);
  std::vector<Row> Rows = parseRows(::testing::internal::GetCapturedStdout());
  ASSERT_EQ(Rows.size(), 2u);
  EXPECT_EQ(Rows[0].Key, "launch.10");
  EXPECT_EQ(Rows[0].Label, "launch, 10 live allocations");
  EXPECT_DOUBLE_EQ(Rows[0].Value, 17400.0);
  EXPECT_DOUBLE_EQ(Rows[0].Baseline, 20900);
  EXPECT_EQ(Rows[1].Key, "range.10");
  EXPECT_DOUBLE_EQ(Rows[1].Baseline, -1);
}

TEST(BenchFigures, TableShowsDifferenceAndRatioOnlyWithABaseline) {
  std::string Table = formatTable({{"a", "slower", 1500, 1000}, {"b", "faster", 800, 1000},
                                   {"c", "alone", 78}});
  std::string Pad(57, ' ');
  EXPECT_EQ(Table,
            "measure" + Pad + "      plugin    baseline  difference   ratio\n" +
                "slower " + Pad + "      1.5 us      1.0 us      500 ns   1.500\n" +
                "faster " + Pad + "      800 ns      1.0 us     -200 ns   0.800\n" +
                "alone  " + Pad + "       78 ns           -           -       -\n");
}

TEST(BenchFigures, RatiosFollowTheirRowsAndSkipMissingOnes) {
  std::vector<Row> Rows = {
      {"launch.10", "", 20, 10},        {"launch.1e4", "", 60, 30},
      {"launch.1e4.vs10", "", 60, 20},  {"submit.64M", "", 100, 90},
      {"retrieve.64M", "", 100, 110},   {"submit.4B", "", 12, 10},
      {"retrieve.4B", "", 10, 10},      {"alloc.4K", "", 9, 6},
      {"owner.1e6", "", 44, 4},         {"own.launch", "", 1000, 600},
      {"own.launch.profile", "", 1500}, {"own.launch.debug1", "", 5000},
      {"threads.2", "", 21, 20},        {"load.100.devlib.second", "", 30, 10},
      {"load.1.first", "", 5, 0},       {"example.heat", "", 30, 20},
      {"omp.launch", "", 18, 16},       {"omp.saxpy", "", 110, 100}};
  Ratios Expected = {{"launch", 2},         {"launch1e4", 2},
                     {"launch1e4_over_10", 3}, {"transfer64M", 1},
                     {"transfer4B", 1.1},   {"alloc", 1.5},
                     {"owner1e6", 11},      {"own_launch", 1000.0 / 600},
                     {"own_launch_profile", 1.5}, {"own_launch_debug1", 5},
                     {"threads2", 1.05},    {"omp_saxpy", 1.1},
                     {"omp_launch", 1.125}, {"example_heat", 1.5},
                     {"load100_devlib_second", 3}};
  Ratios Got = ratios(Rows);
  ASSERT_EQ(Got.size(), Expected.size()) << ratiosLine(Got);
  for (size_t I = 0; I < Got.size(); ++I) {
    EXPECT_EQ(Got[I].first, Expected[I].first);
    EXPECT_DOUBLE_EQ(Got[I].second, Expected[I].second) << Got[I].first;
  }
  EXPECT_EQ(ratiosLine({{"launch", 1.0314}, {"transfer64M", 0.98}}),
            "ratios: launch=1.031 transfer64M=0.980");
}

TEST(BenchFigures, ExampleTimeComesFromItsVerifiedLineOnly) {
  const std::pair<const char *, double> Cases[] = {
      {"saxpy: 10 floats, on device 0, 12.5 ms, verified against the host\n", 12.5},
      {"noise\nheat: 8 x 8 grid, on device 0 and device 1, 3 ms, verified against the host\n", 3},
      {"saxpy: WRONG, 1 values differ from the host, the first at 0: 1 != 2\n", -1},
      {"saxpy: 10 floats, on device 0, 12.5 ms, verified against the host, twice\n", -1},
      {"", -1}};
  for (const auto &[Output, Milliseconds] : Cases)
    EXPECT_EQ(exampleMilliseconds(Output), Milliseconds) << Output;
}

TEST(BenchFigures, PluginLaunchTimeIsTheMedianKernelSliceOnHostTracks) {
  // Host slices of 10, 30 and 20 us; the queue track (tid 0) and copies do not count.
  const std::string Timeline = R"json({"traceEvents":[
    {"ph":"M","name":"thread_name","pid":0,"tid":1,"args":{"name":"host thread 0"}},
    {"ph":"X","name":"k","cat":"kernel","pid":0,"tid":1,"ts":0,"dur":10},
    {"ph":"X","name":"k","cat":"kernel","pid":0,"tid":0,"ts":1,"dur":500},
    {"ph":"X","name":"DataWrite (Host to Device)","cat":"copy","pid":0,"tid":1,"ts":2,"dur":900},
    {"ph":"X","name":"k","cat":"kernel","pid":0,"tid":2,"ts":3,"dur":30},
    {"ph":"X","name":"k","cat":"kernel","pid":1,"tid":1,"ts":4,"dur":20}]})json";
  EXPECT_DOUBLE_EQ(medianHostKernelNs(Timeline), 20000);
  EXPECT_EQ(medianHostKernelNs(R"({"traceEvents":[]})"), -1);
  EXPECT_EQ(medianHostKernelNs("{truncated"), -1);
}

TEST(BenchFigures, JsonHoldsEveryRowAndRatio) {
  std::string Path = ::testing::TempDir() + "bench_figures_test.json";
  ASSERT_TRUE(writeJson(Path, {{"a", "with baseline", 2, 1}, {"b", "alone", 3}}, {{"r", 0.5}}));
  std::stringstream Text;
  Text << std::ifstream(Path).rdbuf();
  EXPECT_EQ(Text.str(), R"({
  "rows": [
    {
      "key": "a",
      "measure": "with baseline",
      "plugin_ns": 2,
      "baseline_ns": 1
    },
    {
      "key": "b",
      "measure": "alone",
      "plugin_ns": 3
    }
  ],
  "ratios": {
    "r": 0.5
  }
}
)");
  std::remove(Path.c_str());
  EXPECT_FALSE(writeJson("/nonexistent-dir/x.json", {}, {}));
}

} // namespace
