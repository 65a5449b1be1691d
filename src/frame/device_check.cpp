#include "frame/device_check.h"

#include "frame/debug.h"
#include "frame/plugin_state.h"

bool checkDeviceId(int32_t DeviceId, bool MustBeInitialized) {
  if (DeviceInfo && DeviceId >= 0 && static_cast<uint32_t>(DeviceId) < DeviceInfo->NumDevices &&
      (!MustBeInitialized || DeviceInfo->Initialized[DeviceId]))
    return true;
  DP("Bad device ID %d\n", DeviceId);
  return false;
}
