#include "debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace {

// One whole line per write, so that messages of different threads do not interleave.
void writeLine(const char *Prefix, const char *Format, va_list Args) {
  char Text[1024];
  int Used = std::snprintf(Text, sizeof(Text), "%s", Prefix);
  if (Used < 0 || Used >= static_cast<int>(sizeof(Text)))
    return;
  std::vsnprintf(Text + Used, sizeof(Text) - Used, Format, Args);
  std::fputs(Text, stderr);
}

} // namespace

int32_t hostDebugLevel() {
  static std::once_flag Once;
  static int32_t Level = 0;
  std::call_once(Once, [] {
    if (const char *Text = std::getenv("LIBOMPTARGET_DEBUG"))
      Level = static_cast<int32_t>(std::atol(Text));
  });
  return Level;
}

void hostDebug(const char *Format, ...) {
  if (hostDebugLevel() == 0)
    return;
  char Prefix[64];
  if (static_cast<uint32_t>(hostDebugLevel()) > 2)
    std::snprintf(Prefix, sizeof(Prefix), "Libomptarget (pid:%lu)  --> ",
                  static_cast<unsigned long>(getpid()));
  else
    std::snprintf(Prefix, sizeof(Prefix), "Libomptarget --> ");
  va_list Args;
  va_start(Args, Format);
  writeLine(Prefix, Format, Args);
  va_end(Args);
}

void hostMessage(const char *Format, ...) {
  va_list Args;
  va_start(Args, Format);
  writeLine("Libomptarget message: ", Format, Args);
  va_end(Args);
}

void hostFatal(const char *Format, ...) {
  va_list Args;
  va_start(Args, Format);
  writeLine("Libomptarget fatal error: ", Format, Args);
  va_end(Args);
  std::fflush(stderr);
  std::exit(1);
}
