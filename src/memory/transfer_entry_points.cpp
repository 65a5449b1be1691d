// The transfer entry points. The asynchronous forms are the synchronous ones: every copy has
// completed when its call returns.
#include "frame/device_check.h"
#include "memory/data_transfer.h"
#include "omptargetplugin.h"

namespace {

int32_t submit(int32_t DeviceId, void *TgtPtr, void *HstPtr, int64_t Size) {
  return checkDeviceId(DeviceId) ? submitData(DeviceId, TgtPtr, HstPtr, Size) : -1;
}

int32_t retrieve(int32_t DeviceId, void *HstPtr, void *TgtPtr, int64_t Size) {
  return checkDeviceId(DeviceId) ? retrieveData(DeviceId, HstPtr, TgtPtr, Size) : -1;
}

} // namespace

extern "C" {

int32_t __tgt_rtl_data_submit(int32_t DeviceId, void *TgtPtr, void *HstPtr, int64_t Size) {
  return submit(DeviceId, TgtPtr, HstPtr, Size);
}

int32_t __tgt_rtl_data_submit_async(int32_t DeviceId, void *TgtPtr, void *HstPtr, int64_t Size,
                                    void * /*AsyncInfo*/) {
  return submit(DeviceId, TgtPtr, HstPtr, Size);
}

int32_t __tgt_rtl_data_retrieve(int32_t DeviceId, void *HstPtr, void *TgtPtr, int64_t Size) {
  return retrieve(DeviceId, HstPtr, TgtPtr, Size);
}

int32_t __tgt_rtl_data_retrieve_async(int32_t DeviceId, void *HstPtr, void *TgtPtr, int64_t Size,
                                      void * /*AsyncInfo*/) {
  return retrieve(DeviceId, HstPtr, TgtPtr, Size);
}

int32_t __tgt_rtl_is_data_exchangable(int32_t SrcDevId, int32_t DstDevId) {
  return SrcDevId == DstDevId ? 1 : 0;
}

// Only copies within one device are offered; the copy is an ordinary enqueued copy on its queue.
int32_t __tgt_rtl_data_exchange(int32_t SrcDevId, void *SrcPtr, int32_t DstDevId, void *DstPtr,
                                int64_t Size) {
  if (SrcDevId != DstDevId)
    return -1;
  return submit(SrcDevId, DstPtr, SrcPtr, Size);
}

} // extern "C"
