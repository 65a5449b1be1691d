// The profile store: per thread, named records of accumulated host and device nanoseconds.
#ifndef PROFILE_PROFILE_RECORDS_H
#define PROFILE_PROFILE_RECORDS_H

#include "frame/opencl.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

struct ProfileTimes {
  double HostTime = 0.0;
  double DeviceTime = 0.0;
};

// One host thread's records on one device, ordered byte-wise by name. The transparent comparator
// lets a copy find its record by a literal name without building a string on each call.
struct ThreadProfile {
  std::map<std::string, ProfileTimes, std::less<>> Records;

  // Adds the times of a completed command: host from queueing to completion, device from start
  // to end. A failed timestamp query leaves the record alone.
  void update(const char *RecordName, cl_event event);
};

// Prints one thread's table for one device; Unit 1000 prints milliseconds, else microseconds.
void printProfile(const ThreadProfile &Profile, int32_t DeviceId, int32_t ThreadId,
                  const std::string &DeviceName, uint64_t Unit);

#endif
