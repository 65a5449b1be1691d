#include "isolated_call.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the start of standard error only: enough to say why a program stopped.
constexpr size_t kErrorsKept = 4096;

struct Descriptor {
  int Fd = -1;
  Descriptor() = default;
  explicit Descriptor(int Fd) : Fd(Fd) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() { reset(); }
  void reset() {
    if (Fd >= 0)
      close(Fd);
    Fd = -1;
  }
};

// A descriptor numbered 0, 1 or 2 (the host closed its own) is moved above them, so that the
// child's dup2 onto its standard streams always makes a new descriptor without close-on-exec.
bool aboveStandardStreams(Descriptor &D) {
  if (D.Fd > 2)
    return true;
  int Moved = fcntl(D.Fd, F_DUPFD_CLOEXEC, 3);
  if (Moved < 0)
    return false;
  D.reset();
  D.Fd = Moved;
  return true;
}

// Two connected descriptors, close-on-exec from the start: a program another thread of the
// host starts meanwhile gets neither. Input goes through a socket so that a write to a child
// that has gone returns an error instead of raising SIGPIPE in the host.
bool makeChannels(Descriptor (&In)[2], Descriptor (&Out)[2], Descriptor (&Err)[2],
                  std::string &Why) {
  int Fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fds) != 0) {
    Why = std::string("cannot make its input channel: ") + std::strerror(errno);
    return false;
  }
  In[0].Fd = Fds[0];
  In[1].Fd = Fds[1];
  for (Descriptor(*Pair)[2] : {&Out, &Err}) {
    if (pipe2(Fds, O_CLOEXEC) != 0) {
      Why = std::string("cannot make its output pipes: ") + std::strerror(errno);
      return false;
    }
    (*Pair)[0].Fd = Fds[0];
    (*Pair)[1].Fd = Fds[1];
  }
  for (Descriptor *D : {&In[0], &In[1], &Out[0], &Out[1], &Err[0], &Err[1]})
    if (!aboveStandardStreams(*D)) {
      Why = std::string("cannot place its channels: ") + std::strerror(errno);
      return false;
    }
  return true;
}

// Starts Command with the three channel ends as its standard streams, every other descriptor
// closed, signals at their defaults and unblocked, and no environment.
int spawnChild(const std::vector<std::string> &Command, int In, int Out, int Err, pid_t &Child) {
  posix_spawn_file_actions_t Actions;
  posix_spawnattr_t Attributes;
  if (int Error = posix_spawn_file_actions_init(&Actions))
    return Error;
  if (int Error = posix_spawnattr_init(&Attributes)) {
    posix_spawn_file_actions_destroy(&Actions);
    return Error;
  }
  sigset_t All, None;
  sigfillset(&All);
  sigemptyset(&None);
  int Error = posix_spawn_file_actions_adddup2(&Actions, In, 0);
  if (!Error)
    Error = posix_spawn_file_actions_adddup2(&Actions, Out, 1);
  if (!Error)
    Error = posix_spawn_file_actions_adddup2(&Actions, Err, 2);
  if (!Error)
    Error = posix_spawn_file_actions_addclosefrom_np(&Actions, 3);
  if (!Error)
    Error = posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (!Error)
    Error = posix_spawnattr_setsigdefault(&Attributes, &All);
  if (!Error)
    Error = posix_spawnattr_setsigmask(&Attributes, &None);
  std::vector<char *> Arguments;
  for (const std::string &Word : Command)
    Arguments.push_back(const_cast<char *>(Word.c_str()));
  Arguments.push_back(nullptr);
  char *NoEnvironment[] = {nullptr};
  if (!Error)
    Error = posix_spawn(&Child, Arguments[0], &Actions, &Attributes, Arguments.data(),
                        NoEnvironment);
  posix_spawnattr_destroy(&Attributes);
  posix_spawn_file_actions_destroy(&Actions);
  return Error;
}

int millisecondsLeft(Clock::time_point Deadline) {
  auto Left =
      std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(0, std::min<long long>(Left, 1 << 30)));
}

// Reads what is there now; false at the end of the stream.
bool drain(Descriptor &D, std::string &Text, size_t Limit) {
  char Buffer[65536];
  ssize_t N = read(D.Fd, Buffer, sizeof(Buffer));
  if (N < 0 && (errno == EINTR || errno == EAGAIN))
    return true;
  if (N <= 0) {
    D.reset();
    return false;
  }
  Text.append(Buffer, std::min(static_cast<size_t>(N), Limit - std::min(Limit, Text.size())));
  return true;
}

// Whether the child has ended. A host that ignores SIGCHLD, or reaps every child in its own
// handler, leaves nothing to wait for: the child is gone, and its exit counts as clean (what
// it wrote must then speak for itself).
bool reaped(pid_t Child, int Options, int &Status) {
  for (;;) {
    pid_t Done = waitpid(Child, &Status, Options);
    if (Done < 0 && errno == EINTR)
      continue;
    if (Done < 0 && errno == ECHILD)
      Status = 0;
    return Done == Child || (Done < 0 && errno == ECHILD);
  }
}

} // namespace

IsolatedResult runIsolated(const std::vector<std::string> &Command, const std::string &Input,
                           int TimeoutMs) {
  IsolatedResult Result;
  if (Command.empty() || Command[0].empty() || Command[0][0] != '/') {
    Result.Why = "no absolute path to run";
    return Result;
  }
  Descriptor In[2], Out[2], Err[2];
  if (!makeChannels(In, Out, Err, Result.Why))
    return Result;
  pid_t Child = -1;
  if (int Error = spawnChild(Command, In[1].Fd, Out[1].Fd, Err[1].Fd, Child)) {
    Result.Why = "cannot start " + Command[0] + ": " + std::strerror(Error);
    return Result;
  }
  In[1].reset();
  Out[1].reset();
  Err[1].reset();
  fcntl(In[0].Fd, F_SETFL, fcntl(In[0].Fd, F_GETFL) | O_NONBLOCK);

  auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  size_t Sent = 0;
  if (Input.empty())
    In[0].reset();
  int Status = 0;
  bool Exited = false;
  // Until the child has ended: its exit, not the end of its output, is what counts, since a
  // program it started may hold its output open.
  for (int Idle = 1; !Exited;) {
    int Left = millisecondsLeft(Deadline);
    if (Left == 0)
      break;
    pollfd Polled[3];
    nfds_t Count = 0;
    if (In[0].Fd >= 0)
      Polled[Count++] = {In[0].Fd, POLLOUT, 0};
    for (Descriptor *D : {&Out[0], &Err[0]})
      if (D->Fd >= 0)
        Polled[Count++] = {D->Fd, POLLIN, 0};
    // With every stream closed only the exit is left to wait for: a short sleep that grows.
    bool Streams = Out[0].Fd >= 0 || Err[0].Fd >= 0;
    int Wait = std::min(Left, Streams ? 100 : Idle);
    if (!Streams)
      Idle = std::min(Idle * 2, 100);
    int Ready = poll(Polled, Count, Wait);
    if (Ready < 0 && errno != EINTR)
      break;
    for (nfds_t I = 0; Ready > 0 && I < Count; ++I) {
      if (!Polled[I].revents)
        continue;
      if (Polled[I].fd == In[0].Fd) {
        ssize_t N = send(In[0].Fd, Input.data() + Sent, Input.size() - Sent,
                         MSG_NOSIGNAL | MSG_DONTWAIT);
        if (N > 0)
          Sent += static_cast<size_t>(N);
        if ((N < 0 && errno != EAGAIN && errno != EINTR) || Sent == Input.size())
          In[0].reset(); // all given, or the child no longer reads
      } else if (Polled[I].fd == Out[0].Fd) {
        drain(Out[0], Result.Output, Result.Output.max_size());
      } else {
        drain(Err[0], Result.Errors, kErrorsKept);
      }
    }
    Exited = (Ready == 0 || !Streams) && reaped(Child, WNOHANG, Status);
  }
  if (!Exited) {
    kill(Child, SIGKILL);
    reaped(Child, 0, Status);
    Result.Status = IsolatedResult::TimedOut;
    return Result;
  }
  // Whatever it wrote just before it ended.
  for (Descriptor *D : {&Out[0], &Err[0]})
    if (D->Fd >= 0) {
      fcntl(D->Fd, F_SETFL, fcntl(D->Fd, F_GETFL) | O_NONBLOCK);
      while (D->Fd >= 0 && drain(*D, D == &Out[0] ? Result.Output : Result.Errors,
                                 D == &Out[0] ? Result.Output.max_size() : kErrorsKept)) {
        pollfd P = {D->Fd, POLLIN, 0};
        if (poll(&P, 1, 0) <= 0)
          break;
      }
    }
  if (WIFEXITED(Status)) {
    Result.ExitCode = WEXITSTATUS(Status);
    Result.Status = Result.ExitCode == 0 ? IsolatedResult::Done : IsolatedResult::Failed;
  } else {
    Result.Signal = WIFSIGNALED(Status) ? WTERMSIG(Status) : 0;
    Result.Status = IsolatedResult::Failed;
  }
  return Result;
}

std::string isolatedFailureText(const IsolatedResult &Result, int TimeoutMs) {
  switch (Result.Status) {
  case IsolatedResult::NotStarted:
    return Result.Why;
  case IsolatedResult::TimedOut:
    return "it did not finish within " + std::to_string(TimeoutMs / 1000) + " s and was stopped";
  case IsolatedResult::Failed:
    if (Result.Signal)
      return "it stopped on signal " + std::to_string(Result.Signal) + " (" +
             strsignal(Result.Signal) + ")";
    return "it exited with status " + std::to_string(Result.ExitCode);
  case IsolatedResult::Done:
    break;
  }
  return "it ended without an answer";
}
