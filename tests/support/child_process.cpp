#include "child_process.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

extern char **environ;

namespace {

// Variables the plugin or the OpenCL loader read; a test's environment starts without them.
bool isPluginVariable(const char *Entry) {
  for (const char *Prefix : {"LIBOMPTARGET_", "TARNO_", "OCL_ICD_", "OPENCL_LAYERS", "FAKECL_"})
    if (std::strncmp(Entry, Prefix, std::strlen(Prefix)) == 0)
      return true;
  return false;
}

void clearPluginVariables() {
  std::vector<std::string> Names;
  for (char **E = environ; *E; ++E)
    if (isPluginVariable(*E))
      Names.emplace_back(*E, std::strchr(*E, '=') - *E);
  for (const std::string &Name : Names)
    unsetenv(Name.c_str());
}

void drain(int ErrFd, int OutFd, ChildResult &Result) {
  struct pollfd Fds[2] = {{ErrFd, POLLIN, 0}, {OutFd, POLLIN, 0}};
  std::string *Sinks[2] = {&Result.Stderr, &Result.Stdout};
  int Open = 2;
  char Buf[4096];
  while (Open > 0) {
    if (poll(Fds, 2, -1) < 0)
      break;
    for (int I = 0; I < 2; ++I) {
      if (Fds[I].fd < 0 || !(Fds[I].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      ssize_t N = read(Fds[I].fd, Buf, sizeof(Buf));
      if (N > 0) {
        Sinks[I]->append(Buf, static_cast<size_t>(N));
      } else {
        close(Fds[I].fd);
        Fds[I].fd = -1;
        --Open;
      }
    }
  }
}

} // namespace

ChildResult runInChild(const EnvironmentList &Env, const std::function<int()> &Body) {
  ChildResult Result;
  int ErrPipe[2], OutPipe[2];
  if (pipe(ErrPipe) != 0 || pipe(OutPipe) != 0)
    return Result;
  std::fflush(nullptr);
  pid_t Pid = fork();
  if (Pid == 0) {
    dup2(ErrPipe[1], 2);
    dup2(OutPipe[1], 1);
    close(ErrPipe[0]);
    close(OutPipe[0]);
    close(ErrPipe[1]);
    close(OutPipe[1]);
    clearPluginVariables();
    for (const auto &[Name, Value] : Env)
      setenv(Name.c_str(), Value.c_str(), 1);
    int Status = Body();
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    // The child leaves through _exit, which skips the leak checker's exit-time pass: check here.
    if (__lsan_do_recoverable_leak_check() != 0)
      Status = LeakExitStatus;
#endif
    _exit(Status);
  }
  close(ErrPipe[1]);
  close(OutPipe[1]);
  drain(ErrPipe[0], OutPipe[0], Result);
  int Status = 0;
  waitpid(Pid, &Status, 0);
  if (WIFEXITED(Status))
    Result.ExitStatus = WEXITSTATUS(Status);
  else if (WIFSIGNALED(Status))
    Result.Signal = WTERMSIG(Status);
  return Result;
}

std::vector<std::string> splitLines(const std::string &Text) {
  std::vector<std::string> Lines;
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos)
      End = Text.size();
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  return Lines;
}

bool hasLine(const std::string &Text, const std::string &Line) {
  std::vector<std::string> Lines = splitLines(Text);
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}
