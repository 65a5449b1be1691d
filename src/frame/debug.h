// Diagnostics of the plugin: the debug level, debug messages, unconditional warnings and fatal
// errors. Everything goes to standard error; the plugin writes nothing to standard output.
#ifndef FRAME_DEBUG_H
#define FRAME_DEBUG_H

#include <cstdint>

// The debug level from LIBOMPTARGET_DEBUG, computed once per process.
int32_t readDebugLevel();

// The debug level taken when the library was loaded; it decides once whether OpenCL calls are
// traced.
extern int32_t StartupDebugLevel;

// Writes the prefix and the message; callers go through DP so that nothing is formatted when
// debugging is off.
void debugMessage(const char *Fmt, ...) __attribute__((format(printf, 1, 2)));
// The same with another component's prefix in place of the plugin's (the ELF layer has its own).
void debugMessageAs(const char *Prefix, const char *Fmt, ...) __attribute__((format(printf, 2, 3)));
// Writes a message that must be seen whatever the debug level.
void warningMessage(const char *Fmt, ...) __attribute__((format(printf, 1, 2)));
// Reports the failing operation and ends the process with exit status 1.
[[noreturn]] void fatalError(const char *Operation, const char *Reason);
// Ends the process with Status after flushing the standard streams, without running the exit
// handlers: the plugin may be shut down from one of them, and exit must not be entered twice.
[[noreturn]] void exitProcess(int Status);

// The name of an OpenCL result code; "Unknown Error" outside -70..0.
const char *getCLErrorName(int32_t Code);

#define DP(...)                                                                                    \
  do {                                                                                             \
    if (readDebugLevel())                                                                          \
      debugMessage(__VA_ARGS__);                                                                   \
  } while (0)

#define DP_AS(Prefix, ...)                                                                         \
  do {                                                                                             \
    if (readDebugLevel())                                                                          \
      debugMessageAs(Prefix, __VA_ARGS__);                                                         \
  } while (0)

#endif
