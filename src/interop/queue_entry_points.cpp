// Queue synchronization. Transfers and launches wait for their own completion, so only an interop
// record's own queue can hold unfinished work.
#include "interop/interop_record.h"
#include "omptargetplugin.h"

extern "C" {

// Nothing is ever left unflushed on an interop queue that the plugin could push.
int32_t __tgt_rtl_flush_queue(InteropRecord *Interop) {
  InteropSnapshot Record;
  return snapshotInterop(Interop, nullptr, Record) ? 0 : -1;
}

int32_t __tgt_rtl_sync_barrier(InteropRecord *Interop) {
  InteropSnapshot Record;
  if (!snapshotInterop(Interop, nullptr, Record))
    return -1;
  return finishInteropQueue(Record.TargetSync, "__tgt_rtl_sync_barrier");
}

// Waits as the synchronous barrier does: nothing of the plugin's runs asynchronously.
int32_t __tgt_rtl_async_barrier(InteropRecord *Interop) { return __tgt_rtl_sync_barrier(Interop); }

int32_t __tgt_rtl_synchronize(int32_t DeviceId, void *AsyncInfo) {
  (void)DeviceId, (void)AsyncInfo;
  return 0;
}

} // extern "C"
