#include "command.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

int runCommand(const std::vector<std::string> &Argv, bool Verbose) {
  if (Verbose) {
    for (const std::string &Arg : Argv)
      std::fprintf(stderr, "%s ", Arg.c_str());
    std::fprintf(stderr, "\n");
  }
  std::vector<char *> Pointers;
  for (const std::string &Arg : Argv)
    Pointers.push_back(const_cast<char *>(Arg.c_str()));
  Pointers.push_back(nullptr);
  pid_t Child = fork();
  if (Child < 0)
    return 127;
  if (Child == 0) {
    execvp(Pointers[0], Pointers.data());
    std::fprintf(stderr, "omptarget-cc: cannot run %s\n", Pointers[0]);
    _exit(127);
  }
  int Status = 0;
  while (waitpid(Child, &Status, 0) < 0)
    if (errno != EINTR)
      return 127;
  if (WIFEXITED(Status))
    return WEXITSTATUS(Status);
  return 128 + (WIFSIGNALED(Status) ? WTERMSIG(Status) : 0);
}

bool readFile(const std::string &Path, std::string &Text) {
  std::ifstream In(Path, std::ios::binary);
  if (!In)
    return false;
  std::ostringstream Buffer;
  Buffer << In.rdbuf();
  Text = Buffer.str();
  return true;
}

bool writeFile(const std::string &Path, const std::string &Text) {
  std::ofstream Out(Path, std::ios::binary);
  Out << Text;
  return static_cast<bool>(Out);
}
