// The child the layer runs the translator in: a result comes back whole, a crash or an exit
// from inside the work is reported as such, and work that does not finish in time is given up
// so the caller can do it itself.
#include "isolated_call.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

TEST(IsolatedCall, ResultsCrashesExitsAndTimeouts) {
  struct Case {
    const char *Name;
    std::function<std::string()> Work;
    int Timeout;
    decltype(IsolatedResult::Status) Status;
    std::string Output;
    int Signal;
  };
  const std::string Large(300000, 'x'); // more than a pipe holds at once
  const Case Cases[] = {
      {"result", [] { return std::string("bitcode\1with\0bytes", 18); }, 10, IsolatedResult::Done,
       std::string("bitcode\1with\0bytes", 18), 0},
      {"large result", [&Large] { return Large; }, 10, IsolatedResult::Done, Large, 0},
      {"empty result", [] { return std::string(); }, 10, IsolatedResult::Done, "", 0},
      {"assertion", []() -> std::string { std::abort(); }, 10, IsolatedResult::Crashed, "",
       SIGABRT},
      {"exit from inside", []() -> std::string { std::exit(0); }, 10, IsolatedResult::Crashed, "",
       0},
      {"too slow", [] { sleep(5); return std::string("late"); }, 1, IsolatedResult::Unavailable,
       "", 0},
  };
  for (const Case &C : Cases) {
    IsolatedResult R = runIsolated(C.Work, C.Timeout);
    EXPECT_EQ(R.Status, C.Status) << C.Name;
    EXPECT_EQ(R.Output, C.Output) << C.Name;
    EXPECT_EQ(R.Signal, C.Signal) << C.Name;
  }
}
