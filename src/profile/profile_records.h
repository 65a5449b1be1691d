// The profile store: per thread, named records of accumulated host and device nanoseconds.
#ifndef PROFILE_PROFILE_RECORDS_H
#define PROFILE_PROFILE_RECORDS_H

#include <map>
#include <string>

struct ProfileTimes {
  double HostTime = 0.0;
  double DeviceTime = 0.0;
};

// Ordered byte-wise by record name.
using ThreadProfile = std::map<std::string, ProfileTimes>;

#endif
