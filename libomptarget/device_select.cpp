#include "device_select.h"

#include "debug.h"
#include "offload_policy.h"
#include "runtime.h"

#include <string>

extern "C" int omp_get_default_device(void);

int32_t selectDevice(int64_t DeviceId, const char *Construct, const void *Loc, const char *Call) {
  if (offloadPolicy() == OffloadPolicy::Disabled)
    return -1;
  if (DeviceId == DefaultDeviceId)
    DeviceId = omp_get_default_device();
  if (DeviceId == InvalidDeviceId)
    hostFatal("%s selects omp_invalid_device\n", describeConstruct(Construct, Loc).c_str());
  int32_t Count = numDevices();
  if (Count == 0) {
    offloadFailed(Construct, Loc, Call, "no device is available");
    return -1;
  }
  if (DeviceId == Count) // the initial device
    return -1;
  if (DeviceId < 0 || DeviceId > Count) {
    hostMessage("%s: device number %lld is out of range (%d device(s)); no device is used\n",
                describeConstruct(Construct, Loc).c_str(), static_cast<long long>(DeviceId), Count);
    offloadFailed(Construct, Loc, Call, "device number out of range");
    return -1;
  }
  return static_cast<int32_t>(DeviceId);
}

int32_t checkRoutineDevice(int64_t DeviceId, const char *Routine) {
  int32_t Count = numDevices();
  if (DeviceId == Count)
    return -1;
  if (DeviceId < 0 || DeviceId > Count) {
    hostMessage("%s: device number %lld is out of range (%d device(s))\n", Routine,
                static_cast<long long>(DeviceId), Count);
    return -2;
  }
  return static_cast<int32_t>(DeviceId);
}
