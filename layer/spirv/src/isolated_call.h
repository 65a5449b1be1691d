// Running a helper program beside the host: the SPIR-V translator library is built with
// assertions, and a module it chokes on must fail a build, never the application. The program is
// started with posix_spawn (never a fork of the host), inherits nothing but its three standard
// streams, and is given up at a deadline.
#ifndef LAYER_ISOLATED_CALL_H
#define LAYER_ISOLATED_CALL_H

#include <string>
#include <vector>

struct IsolatedResult {
  enum { Done, Failed, TimedOut, NotStarted } Status = NotStarted;
  std::string Output; // its standard output, whatever the status
  std::string Errors; // the start of its standard error
  int ExitCode = 0;   // when Done (always 0) or Failed by exiting
  int Signal = 0;     // when Failed by a signal
  std::string Why;    // when NotStarted: what stopped the start
};

// Runs Command (an absolute path and its arguments) with Input on its standard input and an
// empty environment. Done: it exited with status 0. Failed: it exited otherwise or died of a
// signal (unknown where the host ignores SIGCHLD or reaps every child itself: Done then).
// TimedOut: it was still running after TimeoutMs and was killed.
IsolatedResult runIsolated(const std::vector<std::string> &Command, const std::string &Input,
                           int TimeoutMs);

// One line saying how a run that was not Done ended, for a build log.
std::string isolatedFailureText(const IsolatedResult &Result, int TimeoutMs);

#endif
