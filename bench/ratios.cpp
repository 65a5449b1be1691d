#include "ratios.h"

#include <cstdio>

namespace bench {

Ratios ratios(const std::vector<Row> &Rows) {
  Ratios Out;
  auto ratio = [&](const std::string &Name, const std::string &Key) {
    if (const Row *R = findRow(Rows, Key))
      if (R->Baseline > 0)
        Out.emplace_back(Name, R->Value / R->Baseline);
  };
  auto ofValues = [&](const std::string &Name, const std::string &Key, const std::string &Over) {
    const Row *A = findRow(Rows, Key), *B = findRow(Rows, Over);
    if (A && B && B->Value > 0)
      Out.emplace_back(Name, A->Value / B->Value);
  };
  auto transfer = [&](const std::string &Name, const std::string &Size, bool Speed) {
    const Row *In = findRow(Rows, "submit." + Size), *Back = findRow(Rows, "retrieve." + Size);
    if (!In || !Back)
      return;
    double Plugin = In->Value + Back->Value, Plain = In->Baseline + Back->Baseline;
    Out.emplace_back(Name, Speed ? Plain / Plugin : Plugin / Plain);
  };
  ratio("launch", "launch.10");
  ratio("launch1e4", "launch.1e4");
  ratio("launch1e5", "launch.1e5");
  ratio("launch1e4_over_10", "launch.1e4.vs10");
  ratio("launch1e5_over_10", "launch.1e5.vs10");
  transfer("transfer64M", "64M", true);
  transfer("transfer1M", "1M", true);
  transfer("transfer64K", "64K", true);
  transfer("transfer4B", "4B", false);
  ratio("alloc", "alloc.4K");
  ratio("range1e6", "range.1e6");
  ratio("owner1e6", "owner.1e6");
  ratio("own_launch", "own.launch");
  ofValues("own_launch_profile", "own.launch.profile", "own.launch");
  ofValues("own_launch_debug1", "own.launch.debug1", "own.launch");
  ratio("threads2", "threads.2");
  ratio("omp_saxpy", "omp.saxpy");
  ratio("omp_launch", "omp.launch");
  for (const Row &R : Rows)
    if (R.Key.compare(0, 8, "example.") == 0)
      ratio("example_" + R.Key.substr(8), R.Key);
  for (const Row &R : Rows)
    if (R.Key.compare(0, 5, "load.") == 0) {
      std::string Name = "load" + R.Key.substr(5);
      for (char &C : Name)
        C = C == '.' ? '_' : C;
      ratio(Name, R.Key);
    }
  return Out;
}

std::string ratiosLine(const Ratios &R) {
  std::string Line = "ratios:";
  for (const auto &[Name, Value] : R) {
    char Item[96];
    std::snprintf(Item, sizeof(Item), " %s=%.3f", Name.c_str(), Value);
    Line += Item;
  }
  return Line;
}

} // namespace bench
