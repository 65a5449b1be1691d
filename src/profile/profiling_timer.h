// A scoped interval timer on the device and host clocks, committed to the calling thread's
// profile record when it is destroyed. With profiling off it only stores its fields.
#ifndef PROFILE_PROFILING_TIMER_H
#define PROFILE_PROFILING_TIMER_H

#include "frame/opencl.h"

#include <cstdint>
#include <string>

struct ProfilingTimer {
  enum : int32_t { Disabled = 0, Stopped = 1, Running = 2 };

  double DeviceElapsed = 0.0;
  double HostElapsed = 0.0;
  uint64_t DeviceTimeTemp = 0;
  uint64_t HostTimeTemp = 0;
  std::string RecordName;
  int32_t DeviceId;
  cl_device_id ClDeviceId;
  int32_t State;

  ProfilingTimer(const char *Name, int32_t Device);
  ~ProfilingTimer();
  ProfilingTimer(const ProfilingTimer &) = delete;
  ProfilingTimer &operator=(const ProfilingTimer &) = delete;

  void start();
  void stop();

private:
  void disable(const char *Why);
};

#endif
