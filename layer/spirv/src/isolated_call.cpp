#include "isolated_call.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>

namespace {

bool writeAll(int Fd, const std::string &Text) {
  size_t Done = 0;
  while (Done < Text.size()) {
    ssize_t N = write(Fd, Text.data() + Done, Text.size() - Done);
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return false;
    Done += static_cast<size_t>(N);
  }
  return true;
}

// Reads until the end of the pipe; false when the deadline passed first.
bool readAll(int Fd, std::string &Text, std::chrono::steady_clock::time_point Deadline) {
  char Buffer[65536];
  for (;;) {
    auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    Deadline - std::chrono::steady_clock::now())
                    .count();
    if (Left <= 0)
      return false;
    pollfd P = {Fd, POLLIN, 0};
    int Ready = poll(&P, 1, static_cast<int>(Left));
    if (Ready < 0 && errno == EINTR)
      continue;
    if (Ready <= 0)
      return Ready == 0 ? false : true;
    ssize_t N = read(Fd, Buffer, sizeof(Buffer));
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return true;
    Text.append(Buffer, static_cast<size_t>(N));
  }
}

} // namespace

IsolatedResult runIsolated(const std::function<std::string()> &Work, int TimeoutSeconds) {
  IsolatedResult Result;
  int Pipe[2];
  if (pipe(Pipe) != 0)
    return Result;
  // Nothing buffered is copied into the child, so an exit there cannot write it a second time.
  std::fflush(nullptr);
  pid_t Child = fork();
  if (Child < 0) {
    close(Pipe[0]);
    close(Pipe[1]);
    return Result;
  }
  if (Child == 0) {
    close(Pipe[0]);
    // Marks a finished run, so that an exit from inside the work is told apart from success.
    bool Written = writeAll(Pipe[1], Work() + '\1');
    _exit(Written ? 0 : 1);
  }
  close(Pipe[1]);
  std::string Output;
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  bool Finished = readAll(Pipe[0], Output, Deadline);
  close(Pipe[0]);
  if (!Finished)
    kill(Child, SIGKILL);
  int Status = 0;
  while (waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
  if (!Finished)
    return Result; // Unavailable: too slow, perhaps stuck on a lock another thread held
  if (WIFEXITED(Status) && WEXITSTATUS(Status) == 0 && !Output.empty() && Output.back() == '\1') {
    Output.pop_back();
    Result.Status = IsolatedResult::Done;
    Result.Output = std::move(Output);
    return Result;
  }
  Result.Status = IsolatedResult::Crashed;
  Result.Signal = WIFSIGNALED(Status) ? WTERMSIG(Status) : 0;
  return Result;
}
