#include "figures.h"

#include <llvm/Support/JSON.h>
#include <llvm/Support/raw_ostream.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bench {

void emitRow(const std::string &Key, const std::string &Label, double Value, double Baseline) {
  std::printf("row\t%s\t%.1f\t%.1f\t%s\n", Key.c_str(), Value, Baseline, Label.c_str());
  std::fflush(stdout);
}

std::vector<Row> parseRows(const std::string &Output) {
  std::vector<Row> Rows;
  std::istringstream In(Output);
  std::string Line;
  while (std::getline(In, Line)) {
    std::vector<std::string> Fields;
    std::istringstream Parts(Line);
    std::string Field;
    while (std::getline(Parts, Field, '\t'))
      Fields.push_back(Field);
    if (Fields.size() != 5 || Fields[0] != "row")
      continue;
    Rows.push_back({Fields[1], Fields[4], std::strtod(Fields[2].c_str(), nullptr),
                    std::strtod(Fields[3].c_str(), nullptr)});
  }
  return Rows;
}

std::string formatNs(double Ns) {
  char Text[32];
  if (Ns < 1e3)
    std::snprintf(Text, sizeof(Text), "%.0f ns", Ns);
  else if (Ns < 1e6)
    std::snprintf(Text, sizeof(Text), "%.1f us", Ns / 1e3);
  else if (Ns < 1e9)
    std::snprintf(Text, sizeof(Text), "%.2f ms", Ns / 1e6);
  else
    std::snprintf(Text, sizeof(Text), "%.2f s", Ns / 1e9);
  return Text;
}

std::string formatTable(const std::vector<Row> &Rows) {
  std::string Out;
  char Line[256];
  std::snprintf(Line, sizeof(Line), "%-64s %11s %11s %11s %7s\n", "measure", "plugin", "baseline",
                "difference", "ratio");
  Out += Line;
  for (const Row &R : Rows) {
    if (R.Baseline < 0) {
      std::snprintf(Line, sizeof(Line), "%-64s %11s %11s %11s %7s\n", R.Label.c_str(),
                    formatNs(R.Value).c_str(), "-", "-", "-");
    } else {
      double Diff = R.Value - R.Baseline;
      std::string DiffText = (Diff < 0 ? "-" : "") + formatNs(Diff < 0 ? -Diff : Diff);
      std::snprintf(Line, sizeof(Line), "%-64s %11s %11s %11s %7.3f\n", R.Label.c_str(),
                    formatNs(R.Value).c_str(), formatNs(R.Baseline).c_str(), DiffText.c_str(),
                    R.Baseline > 0 ? R.Value / R.Baseline : 0.0);
    }
    Out += Line;
  }
  return Out;
}

const Row *findRow(const std::vector<Row> &Rows, const std::string &Key) {
  for (const Row &R : Rows)
    if (R.Key == Key)
      return &R;
  return nullptr;
}

bool writeJson(const std::string &Path, const std::vector<Row> &Rows,
               const std::vector<std::pair<std::string, double>> &Ratios) {
  std::error_code Error;
  llvm::raw_fd_ostream File(Path, Error);
  if (Error)
    return false;
  llvm::json::OStream J(File, 2);
  J.object([&] {
    J.attributeArray("rows", [&] {
      for (const Row &R : Rows)
        J.object([&] {
          J.attribute("key", R.Key);
          J.attribute("measure", R.Label);
          J.attribute("plugin_ns", R.Value);
          if (R.Baseline >= 0)
            J.attribute("baseline_ns", R.Baseline);
        });
    });
    J.attributeObject("ratios", [&] {
      for (const auto &[Name, Value] : Ratios)
        J.attribute(Name, Value);
    });
  });
  File << "\n";
  return !File.has_error();
}

} // namespace bench
