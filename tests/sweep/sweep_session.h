// A realistic host-runtime session over the fake driver, cut into steps: each step is one host
// runtime action (an entry point call, with the data it moves checked), needs the steps it names
// to have succeeded, and reports ok, fail or skip. The fault sweep runs it once cleanly and once
// per OpenCL call it made, with that call failing.
#ifndef TESTS_SWEEP_SWEEP_SESSION_H
#define TESTS_SWEEP_SWEEP_SESSION_H

#include "child_process.h"

#include <cstdint>
#include <string>
#include <vector>

// What the session loads, and through what.
enum class SweepImage {
  FakeSpirv,   // the fake driver's module behind a SPIR-V magic number
  FakeNative,  // the same module as a native image in an offload container
  LayerSpirv,  // real SPIR-V, loaded through the OpenCL layer standing above the fake driver
};

struct SweepSession {
  std::string Name;
  std::string Layout;  // the fake driver's platforms and devices
  int32_t NumDevices;  // how many devices the layout has
  EnvironmentList Env; // the plugin's options
  bool WithTool;       // the example tool attached, so that device notifications run
  SweepImage Image = SweepImage::FakeSpirv;
};

// What one run of a session reports, from the child's standard output.
struct StepReport {
  std::string Name;
  std::string Outcome; // "ok", "fail", "skip" or "wrong" (succeeded with wrong data)
  size_t FirstCall;    // the step's calls in the driver's record: [FirstCall, EndCall)
  size_t EndCall;
};

struct SessionReport {
  std::vector<StepReport> Steps;
  std::vector<std::string> Calls; // the function of each recorded driver call, in order
  long LiveObjects = -1;          // driver objects alive after shutdown; -1 when not reached
  std::string Live;               // the same, by kind
};

// Runs the session in a child, with Faults applied once the loader has started; the child is
// killed after TimeoutSeconds.
ChildResult runSweepSession(const SweepSession &Session, const std::string &Faults,
                            unsigned TimeoutSeconds);

// The report a child printed.
SessionReport parseSessionReport(const std::string &Stdout);

#endif
