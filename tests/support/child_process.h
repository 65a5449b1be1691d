// Runs test code in a fresh child process: the plugin reads its options and debug level once per
// process, so every environment under test gets its own process.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H
#define TESTS_SUPPORT_CHILD_PROCESS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

using EnvironmentList = std::vector<std::pair<std::string, std::string>>;

struct ChildResult {
  int ExitStatus = -1;    // the status passed to exit, or -1 when killed by a signal
  int Signal = 0;         // the signal that ended the child, if any
  std::string Stderr;     // everything the child wrote to standard error
  std::string Stdout;     // everything the child wrote to standard output
};

// The child's exit status when a leak-checking build found leaked memory at its end.
constexpr int LeakExitStatus = 86;

// Forks; the child clears every plugin variable, sets Env, runs Body with standard error and
// standard output captured, and exits with Body's result.
ChildResult runInChild(const EnvironmentList &Env, const std::function<int()> &Body);

// The lines of a text, without their line ends.
std::vector<std::string> splitLines(const std::string &Text);

// Whether one whole line of Text equals Line.
bool hasLine(const std::string &Text, const std::string &Line);

#endif
