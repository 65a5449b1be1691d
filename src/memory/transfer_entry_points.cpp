// The transfer entry points. The asynchronous forms are the synchronous ones: every copy has
// completed when its call returns.
#include "memory/data_transfer.h"
#include "omptargetplugin.h"

extern "C" {

int32_t __tgt_rtl_data_submit(int32_t DeviceId, void *TgtPtr, void *HstPtr, int64_t Size) {
  return submitData(DeviceId, TgtPtr, HstPtr, Size);
}

int32_t __tgt_rtl_data_submit_async(int32_t DeviceId, void *TgtPtr, void *HstPtr, int64_t Size,
                                    void * /*AsyncInfo*/) {
  return submitData(DeviceId, TgtPtr, HstPtr, Size);
}

int32_t __tgt_rtl_data_retrieve(int32_t DeviceId, void *HstPtr, void *TgtPtr, int64_t Size) {
  return retrieveData(DeviceId, HstPtr, TgtPtr, Size);
}

int32_t __tgt_rtl_data_retrieve_async(int32_t DeviceId, void *HstPtr, void *TgtPtr, int64_t Size,
                                      void * /*AsyncInfo*/) {
  return retrieveData(DeviceId, HstPtr, TgtPtr, Size);
}

int32_t __tgt_rtl_is_data_exchangable(int32_t SrcDevId, int32_t DstDevId) {
  return SrcDevId == DstDevId ? 1 : 0;
}

// Only copies within one device are offered; the copy is an ordinary enqueued copy on its queue.
int32_t __tgt_rtl_data_exchange(int32_t SrcDevId, void *SrcPtr, int32_t DstDevId, void *DstPtr,
                                int64_t Size) {
  if (SrcDevId != DstDevId)
    return -1;
  return submitData(SrcDevId, DstPtr, SrcPtr, Size);
}

} // extern "C"
