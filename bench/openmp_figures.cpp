#include "openmp_figures.h"

#include "timing.h"

#include <llvm/Support/JSON.h>

#include <cstdlib>
#include <regex>
#include <vector>

namespace bench {

double exampleMilliseconds(const std::string &Output) {
  static const std::regex Line(", ([0-9]+(\\.[0-9]+)?) ms, verified against the host$",
                               std::regex::multiline);
  std::smatch Match;
  if (!std::regex_search(Output, Match, Line))
    return -1;
  return std::strtod(Match[1].str().c_str(), nullptr);
}

double medianHostKernelNs(const std::string &TimelineJson) {
  llvm::Expected<llvm::json::Value> Parsed = llvm::json::parse(TimelineJson);
  if (!Parsed) {
    llvm::consumeError(Parsed.takeError());
    return -1;
  }
  const llvm::json::Object *Root = Parsed->getAsObject();
  const llvm::json::Array *Events = Root ? Root->getArray("traceEvents") : nullptr;
  if (!Events)
    return -1;
  std::vector<double> Durations;
  for (const llvm::json::Value &Value : *Events) {
    const llvm::json::Object *Event = Value.getAsObject();
    if (!Event)
      continue;
    auto Phase = Event->getString("ph"), Category = Event->getString("cat");
    if (!Phase || *Phase != "X" || !Category || *Category != "kernel")
      continue;
    // Track 0 of a device is its queue: when the kernel ran there, not the plugin's call.
    auto Track = Event->getInteger("tid");
    auto Microseconds = Event->getNumber("dur");
    if (Track && *Track != 0 && Microseconds)
      Durations.push_back(*Microseconds * 1000.0);
  }
  return Durations.empty() ? -1 : median(Durations);
}

} // namespace bench
