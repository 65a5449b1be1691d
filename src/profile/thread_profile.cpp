#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "profile/profile_records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// The OpenMP runtime's global thread number is the key of a thread's profile.
extern "C" int32_t __kmpc_global_thread_num(void *);

ThreadProfile &PluginDeviceInfo::getProfile(int32_t DeviceId) {
  int32_t ThreadId = __kmpc_global_thread_num(nullptr);
  std::lock_guard<std::mutex> Guard(ProfileMutexes[DeviceId]);
  // Map entries never move, so the reference outlives the lock.
  return Profiles[DeviceId][ThreadId];
}

void ThreadProfile::update(const char *RecordName, cl_event event) {
  cl_ulong host_begin = 0, host_end = 0, device_begin = 0, device_end = 0;
  if (CL_CALL_WARN("update", clGetEventProfilingInfo, event, 0x1280, sizeof(cl_ulong),
                   &host_begin, nullptr) ||
      CL_CALL_WARN("update", clGetEventProfilingInfo, event, 0x1284, sizeof(cl_ulong), &host_end,
                   nullptr) ||
      CL_CALL_WARN("update", clGetEventProfilingInfo, event, 0x1282, sizeof(cl_ulong),
                   &device_begin, nullptr) ||
      CL_CALL_WARN("update", clGetEventProfilingInfo, event, 0x1283, sizeof(cl_ulong),
                   &device_end, nullptr))
    return;
  auto It = Records.find(RecordName);
  if (It == Records.end())
    It = Records.emplace(RecordName, ProfileTimes()).first;
  ProfileTimes &Times = It->second;
  Times.HostTime += static_cast<double>(host_end - host_begin);
  Times.DeviceTime += static_cast<double>(device_end - device_begin);
}

namespace {

constexpr const char *KernelPrefix = "Kernel ";
constexpr size_t KernelPrefixLength = 7;

bool startsWith(const std::string &Name, const char *Prefix) {
  return Name.compare(0, std::strlen(Prefix), Prefix) == 0;
}

void printRule(char C) {
  std::string Line(80, C);
  std::fprintf(stderr, "%s\n", Line.c_str());
}

} // namespace

void printProfile(const ThreadProfile &Profile, int32_t DeviceId, int32_t ThreadId,
                  const std::string &DeviceName, uint64_t Unit) {
  printRule('=');
  std::fprintf(stderr, "LIBOMPTARGET_PLUGIN_PROFILE(%s) for OMP DEVICE(%d) %s, Thread %d\n",
               "OPENCL", DeviceId, DeviceName.c_str(), ThreadId);
  printRule('-');

  int Width = static_cast<int>(KernelPrefixLength) + 3;
  for (const auto &Record : Profile.Records)
    if (!startsWith(Record.first, KernelPrefix))
      Width = std::max(Width, static_cast<int>(Record.first.size()));

  // Kernel records are listed by number, with a legend naming their functions.
  std::vector<std::string> Labels;
  int KernelNumber = 0;
  for (const auto &Record : Profile.Records) {
    if (!startsWith(Record.first, KernelPrefix)) {
      Labels.push_back(Record.first);
      continue;
    }
    Labels.push_back(KernelPrefix + std::to_string(KernelNumber++));
    std::fprintf(stderr, "-- %-*s: %s\n", Width, Labels.back().c_str(),
                 Record.first.c_str() + KernelPrefixLength);
  }
  printRule('-');

  const char *UnitWord = Unit == 1000 ? "msec" : "usec";
  std::fprintf(stderr, "-- %-*s:     Host Time (%s)   Device Time (%s)\n", Width, "Name",
               UnitWord, UnitWord);
  double HostTotal = 0.0, DeviceTotal = 0.0;
  size_t Index = 0;
  for (const auto &Record : Profile.Records) {
    const std::string &Name = Record.first;
    double Host = Record.second.HostTime * 1e-9 * static_cast<double>(Unit);
    // Only events carry a meaningful device time; timers print 0.
    bool HasDeviceTime = startsWith(Name, KernelPrefix) || startsWith(Name, "DataRead") ||
                         startsWith(Name, "DataWrite");
    double Device =
        HasDeviceTime ? Record.second.DeviceTime * 1e-9 * static_cast<double>(Unit) : 0.0;
    std::fprintf(stderr, "-- %-*s: %20.3f %20.3f\n", Width, Labels[Index++].c_str(), Host,
                 Device);
    HostTotal += Host;
    DeviceTotal += Device;
  }
  std::fprintf(stderr, "-- %-*s: %20.3f %20.3f\n", Width, "Total", HostTotal, DeviceTotal);
  printRule('=');
}
