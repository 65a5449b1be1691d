// Synchronous copies between host and device memory: one enqueued copy and a wait each.
#ifndef MEMORY_DATA_TRANSFER_H
#define MEMORY_DATA_TRANSFER_H

#include <cstdint>

// Copies Size bytes from HstPtr to TgtPtr on the device's queue; 0 or -1.
int32_t submitData(int32_t DeviceId, void *TgtPtr, void *HstPtr, int64_t Size);
// Copies Size bytes from TgtPtr to HstPtr on the device's queue; 0 or -1.
int32_t retrieveData(int32_t DeviceId, void *HstPtr, void *TgtPtr, int64_t Size);

#endif
