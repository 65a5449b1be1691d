// The benchmark's figures: one row per comparison, written by a part's child process as a line on
// its standard output and read back by the parent, which prints the table and writes the JSON.
#ifndef BENCH_FIGURES_H
#define BENCH_FIGURES_H

#include <string>
#include <vector>

namespace bench {

struct Row {
  std::string Key;     // stable name used by the ratios line and the JSON
  std::string Label;   // what was measured, for people
  double Value = 0;    // nanoseconds: the plugin's side
  double Baseline = -1; // nanoseconds: the plain driver side, negative when there is none
};

// Writes a row to standard output in the form parseRows reads.
void emitRow(const std::string &Key, const std::string &Label, double Value, double Baseline = -1);

// The rows among a child's output lines; other lines are ignored.
std::vector<Row> parseRows(const std::string &Output);

// "812 ns", "21.4 us", "3.20 ms", "1.25 s".
std::string formatNs(double Ns);

// The table: measure, plugin, baseline, plugin - baseline, plugin / baseline.
std::string formatTable(const std::vector<Row> &Rows);

const Row *findRow(const std::vector<Row> &Rows, const std::string &Key);

// Writes the rows and the ratios as JSON; false when the file cannot be written.
bool writeJson(const std::string &Path, const std::vector<Row> &Rows,
               const std::vector<std::pair<std::string, double>> &Ratios);

} // namespace bench

#endif
