// The helper runner the layer starts its translator with: input in and output out whole, a
// crash, an exit and a hang told apart, a program that cannot start said so; all while another
// thread of the host sits in a read of standard input and a third keeps starting programs that
// outlive each run (neither may hold a run up).
#include "isolated_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

// A thread blocked reading standard input (a pipe nobody writes until the end), holding the
// stream's lock the way an interactive application does.
struct StdinReader {
  int Pipe[2] = {-1, -1};
  int SavedStdin = -1;
  std::thread Reader;
  StdinReader() {
    EXPECT_EQ(pipe(Pipe), 0);
    SavedStdin = dup(0);
    dup2(Pipe[0], 0);
    Reader = std::thread([] { std::fgetc(stdin); });
  }
  ~StdinReader() {
    (void)!write(Pipe[1], "x", 1);
    Reader.join();
    dup2(SavedStdin, 0);
    for (int Fd : {Pipe[0], Pipe[1], SavedStdin})
      close(Fd);
  }
};

// A thread starting `sleep 4` over and over with a plain fork and exec: whatever descriptors of
// the host lack close-on-exec live on in them.
struct ProgramStarter {
  std::atomic<bool> Stop{false};
  std::vector<pid_t> Started;
  std::thread Starter;
  ProgramStarter() {
    Starter = std::thread([this] {
      while (!Stop) {
        char Sleep[] = "/bin/sleep", Four[] = "4";
        char *Argv[] = {Sleep, Four, nullptr};
        pid_t Child = -1;
        if (posix_spawn(&Child, Sleep, nullptr, nullptr, Argv, environ) == 0)
          Started.push_back(Child);
        usleep(50000);
      }
    });
  }
  ~ProgramStarter() {
    Stop = true;
    Starter.join();
    for (pid_t Child : Started) {
      kill(Child, SIGKILL);
      waitpid(Child, nullptr, 0);
    }
  }
};

} // namespace

TEST(IsolatedCall, OutputsCrashesExitsHangsAndFailedStarts) {
  const std::string Large(300000, 'x'); // more than a pipe holds at once, in both directions
  char NotExecutable[] = "/tmp/isolated_call_test_XXXXXX";
  int Fd = mkstemp(NotExecutable);
  ASSERT_GE(Fd, 0);
  close(Fd);
  chmod(NotExecutable, 0600);
  struct Case {
    const char *Name;
    std::vector<std::string> Command;
    std::string Input;
    int TimeoutMs;
    decltype(IsolatedResult::Status) Status;
    std::string Output, Errors;
    int ExitCode, Signal;
    const char *Why; // part of it, for a failed start
  };
  const Case Cases[] = {
      {"echo", {"/bin/cat"}, std::string("bitcode\1with\0bytes", 18), 10000,
       IsolatedResult::Done, std::string("bitcode\1with\0bytes", 18), "", 0, 0, ""},
      {"large both ways", {"/bin/cat"}, Large, 10000, IsolatedResult::Done, Large, "", 0, 0, ""},
      {"no input", {"/bin/cat"}, "", 10000, IsolatedResult::Done, "", "", 0, 0, ""},
      {"empty environment", {"/usr/bin/env"}, "", 10000, IsolatedResult::Done, "", "", 0, 0, ""},
      {"only the standard streams", {"/bin/ls", "/proc/self/fd"}, "", 10000,
       IsolatedResult::Done, "0\n1\n2\n3\n", "", 0, 0, ""}, // 3: the listing's own directory
      {"assertion", {"/bin/sh", "-c", "echo partial; echo assertion >&2; kill -ABRT $$"}, "",
       10000, IsolatedResult::Failed, "partial\n", "assertion\n", 0, SIGABRT, ""},
      {"exit", {"/bin/sh", "-c", "exit 3"}, Large, 10000, IsolatedResult::Failed, "", "", 3, 0,
       ""},
      {"hang", {"/bin/sleep", "5"}, "", 1000, IsolatedResult::TimedOut, "", "", 0, 0, ""},
      {"missing", {"/nonexistent/helper"}, "", 10000, IsolatedResult::NotStarted, "", "", 0, 0,
       "No such file or directory"},
      {"not executable", {NotExecutable}, "", 10000, IsolatedResult::NotStarted, "", "", 0, 0,
       "Permission denied"},
      {"relative path", {"cat"}, "", 10000, IsolatedResult::NotStarted, "", "", 0, 0,
       "no absolute path"},
  };
  StdinReader Reading;
  ProgramStarter Starting;
  for (const Case &C : Cases) {
    IsolatedResult R = runIsolated(C.Command, C.Input, C.TimeoutMs);
    EXPECT_EQ(R.Status, C.Status) << C.Name << ": " << isolatedFailureText(R, C.TimeoutMs);
    EXPECT_EQ(R.Output, C.Output) << C.Name;
    EXPECT_EQ(R.Errors, C.Errors) << C.Name;
    EXPECT_EQ(R.ExitCode, C.ExitCode) << C.Name;
    EXPECT_EQ(R.Signal, C.Signal) << C.Name;
    EXPECT_NE(R.Why.find(C.Why), std::string::npos) << C.Name << ": " << R.Why;
  }
  unlink(NotExecutable);
  // A host that ignores SIGCHLD has its children reaped for it: nothing to wait for.
  struct sigaction Ignore = {}, Previous = {};
  Ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &Ignore, &Previous);
  IsolatedResult R = runIsolated({"/bin/cat"}, "ignored", 10000);
  sigaction(SIGCHLD, &Previous, nullptr);
  EXPECT_EQ(R.Status, IsolatedResult::Done) << isolatedFailureText(R, 10000);
  EXPECT_EQ(R.Output, "ignored");
}
