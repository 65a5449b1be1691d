#include "profile/profiling_timer.h"

#include "frame/cl_call.h"
#include "frame/plugin_state.h"

ProfilingTimer::ProfilingTimer(const char *Name, int32_t Device)
    : RecordName(Name), DeviceId(Device), ClDeviceId(DeviceInfo->Devices[Device]),
      State((DeviceInfo->Option.Flags & OptionFlagProfile) ? Stopped : Disabled) {}

void ProfilingTimer::disable(const char *Why) {
  State = Disabled;
  warningMessage("Warning: profiling timer '%s' for OpenMP device (%d) %s is disabled due to %s.\n",
                 RecordName.c_str(), DeviceId,
                 DeviceInfo->DeviceProperties[DeviceId].Name.c_str(), Why);
}

void ProfilingTimer::start() {
  if (State == Disabled)
    return;
  if (State == Running)
    return disable("start/stop mismatch");
  if (CL_CALL("start", clGetDeviceAndHostTimer, ClDeviceId, &DeviceTimeTemp, &HostTimeTemp) !=
      CL_SUCCESS)
    return disable("invalid OpenCL timer");
  State = Running;
}

void ProfilingTimer::stop() {
  if (State == Disabled)
    return;
  if (State == Stopped)
    return disable("start/stop mismatch");
  cl_ulong DeviceTime = 0, HostTime = 0;
  if (CL_CALL("stop", clGetDeviceAndHostTimer, ClDeviceId, &DeviceTime, &HostTime) != CL_SUCCESS)
    return disable("invalid OpenCL timer");
  if (DeviceTime < DeviceTimeTemp || HostTime < HostTimeTemp)
    return disable("timer overflow");
  DeviceElapsed += static_cast<double>(DeviceTime) - static_cast<double>(DeviceTimeTemp);
  HostElapsed += static_cast<double>(HostTime) - static_cast<double>(HostTimeTemp);
  State = Stopped;
}

ProfilingTimer::~ProfilingTimer() {
  if (State == Running) {
    disable("start/stop mismatch");
    return;
  }
  if (State != Stopped)
    return;
  ProfileTimes &Times = DeviceInfo->getProfile(DeviceId).Records[RecordName];
  Times.HostTime += HostElapsed;
  Times.DeviceTime += DeviceElapsed;
}
