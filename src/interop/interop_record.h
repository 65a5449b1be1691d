// Interop records: creation, the validity check and release. The plugin remembers the records it
// handed out, so that a foreign, stale or already released pointer is refused without being read.
#ifndef INTEROP_INTEROP_RECORD_H
#define INTEROP_INTEROP_RECORD_H

#include "omptarget_interop.h"

#include <cstdint>

// A new record for an initialised device, with a queue of its own for kind 1; null on failure.
InteropRecord *createInteropRecord(int32_t DeviceId, int32_t InteropKind);

// Whether Interop is a live record of this plugin (a debug message names it otherwise).
bool isLiveInterop(const InteropRecord *Interop);
// A live record made for DeviceId.
bool isValidInterop(int32_t DeviceId, const InteropRecord *Interop);

// Waits for the record's queue and releases it, then frees the record; -1 keeps the record as it
// was, still usable.
int32_t releaseInteropRecord(int32_t DeviceId, InteropRecord *Interop);

// Waits for the record's queue, if it has one: 0, or -1 when the wait failed (reported under Op).
int32_t finishInteropQueue(const InteropRecord *Interop, const char *Op);

#endif
