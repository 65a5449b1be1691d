// Interop records: creation, the validity check and release. The plugin remembers the records it
// handed out, so that a foreign, stale or already released pointer is refused without being read.
#ifndef INTEROP_INTEROP_RECORD_H
#define INTEROP_INTEROP_RECORD_H

#include "frame/opencl.h"
#include "omptarget_interop.h"

#include <cstdint>

// A new record for an initialised device, with a queue of its own for kind 1; null on failure.
InteropRecord *createInteropRecord(int32_t DeviceId, int32_t InteropKind);

// What the entry points read from a live record, copied while the record is known to be live.
struct InteropSnapshot {
  cl_command_queue TargetSync = nullptr;
  bool HasPluginProperty = false;
};

// Whether Interop is a live record of this plugin, not being released, and made for *DeviceId when
// DeviceId is given; if so Out holds its fields. Otherwise a debug message names the record.
bool snapshotInterop(const InteropRecord *Interop, const int32_t *DeviceId, InteropSnapshot &Out);

// Waits for the record's queue and releases it, then frees the record; -1 keeps the record as it
// was, still usable.
int32_t releaseInteropRecord(int32_t DeviceId, InteropRecord *Interop);

// Waits for a record's queue, if it has one: 0, or -1 when the wait failed (reported under Op).
int32_t finishInteropQueue(cl_command_queue TargetSync, const char *Op);

#endif
