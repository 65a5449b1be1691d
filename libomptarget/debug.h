// Diagnostics of the host runtime: debug messages when LIBOMPTARGET_DEBUG is non-zero, in the
// plugin's style with this library's name, plus messages every user sees (errors that change a
// construct's outcome) and the fatal error that ends the process.
#ifndef LIBOMPTARGET_DEBUG_H
#define LIBOMPTARGET_DEBUG_H

#include <cstdint>

// The debug level, read from LIBOMPTARGET_DEBUG once (atol rules; unset means 0).
int32_t hostDebugLevel();

// "Libomptarget --> " (with " (pid:N) " above level 2) and the formatted text, when debugging.
void hostDebug(const char *Format, ...) __attribute__((format(printf, 1, 2)));

// "Libomptarget message: " and the text, whatever the level.
void hostMessage(const char *Format, ...) __attribute__((format(printf, 1, 2)));

// "Libomptarget fatal error: " and the text, then the process exits with status 1.
[[noreturn]] void hostFatal(const char *Format, ...) __attribute__((format(printf, 1, 2)));

#define HOST_DP(...)                                                                               \
  do {                                                                                             \
    if (hostDebugLevel() != 0)                                                                     \
      hostDebug(__VA_ARGS__);                                                                      \
  } while (0)

#endif

// Runs an entry point's body so that no exception leaves the C interface: an exception (an
// allocation that failed) becomes a message and the entry point's failure result.
template <typename T, typename Body> T noThrow(const char *EntryPoint, T Failure, Body &&B) {
  try {
    return B();
  } catch (...) {
    hostMessage("%s failed: out of memory\n", EntryPoint);
    return Failure;
  }
}

template <typename Body> void noThrow(const char *EntryPoint, Body &&B) {
  try {
    B();
  } catch (...) {
    hostMessage("%s failed: out of memory\n", EntryPoint);
  }
}
