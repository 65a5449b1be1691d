// Running a piece of work in a child process: the SPIR-V translator library is built with
// assertions, and a module it chokes on must fail a build, not end the application.
#ifndef LAYER_ISOLATED_CALL_H
#define LAYER_ISOLATED_CALL_H

#include <functional>
#include <string>

struct IsolatedResult {
  enum { Done, Crashed, Unavailable } Status = Unavailable;
  std::string Output; // what the work returned, when Done
  int Signal = 0;     // what ended the child, when Crashed
};

// Runs Work in a forked child and hands back its result. Crashed: the child died of a signal or
// exited without finishing. Unavailable: no child could be made, or it did not finish within
// TimeoutSeconds (it is killed); the caller may then do the work itself.
IsolatedResult runIsolated(const std::function<std::string()> &Work, int TimeoutSeconds);

#endif
