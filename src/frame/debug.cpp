#include "frame/debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr const char *PluginPrefix = "Target OPENCL RTL";

int32_t DebugLevel = 0;
pthread_once_t DebugLevelOnce = PTHREAD_ONCE_INIT;

void initDebugLevel() {
  const char *Text = std::getenv("LIBOMPTARGET_DEBUG");
  if (!Text)
    return;
  DebugLevel = static_cast<int32_t>(std::atol(Text));
  if (DebugLevel == 0 && std::strcmp(Text, "0") != 0)
    std::fprintf(stderr,
                 "Libomptarget --> Warning: Debug level was set to 0 for invalid input "
                 "LIBOMPTARGET_DEBUG=\"%s\"\n",
                 Text);
}

} // namespace

int32_t StartupDebugLevel = 0;

// Taken before the plugin state is created (a lower priority number runs first).
__attribute__((constructor(101))) static void takeStartupDebugLevel() {
  StartupDebugLevel = readDebugLevel();
}

int32_t readDebugLevel() {
  if (pthread_once(&DebugLevelOnce, initDebugLevel) != 0)
    std::abort();
  return DebugLevel;
}

namespace {

void writeDebugMessage(const char *Prefix, const char *Fmt, va_list Args) {
  int32_t Level = readDebugLevel();
  if (Level == 0)
    return;
  std::fputs(Prefix, stderr);
  // Compared unsigned on purpose: a negative level prints the process id too.
  if (static_cast<uint32_t>(Level) > 2)
    std::fprintf(stderr, " (pid:%lu) ", static_cast<unsigned long>(getpid()));
  std::fputs(" --> ", stderr);
  std::vfprintf(stderr, Fmt, Args);
}

} // namespace

void debugMessage(const char *Fmt, ...) {
  va_list Args;
  va_start(Args, Fmt);
  writeDebugMessage(PluginPrefix, Fmt, Args);
  va_end(Args);
}

void debugMessageAs(const char *Prefix, const char *Fmt, ...) {
  va_list Args;
  va_start(Args, Fmt);
  writeDebugMessage(Prefix, Fmt, Args);
  va_end(Args);
}

void warningMessage(const char *Fmt, ...) {
  std::fprintf(stderr, "%s --> ", PluginPrefix);
  va_list Args;
  va_start(Args, Fmt);
  std::vfprintf(stderr, Fmt, Args);
  va_end(Args);
}

void fatalError(const char *Operation, const char *Reason) {
  std::fprintf(stderr, "%s --> ", PluginPrefix);
  std::fprintf(stderr, "Error: %s failed (%s) -- exiting...\n", Operation, Reason);
  exitProcess(1);
}

void exitProcess(int Status) {
  std::fflush(nullptr);
  std::_Exit(Status);
}
