// The tool's host state and the calls into the tool: device notifications and the per-launch
// record. Everything here does nothing while no tool is attached (the state pointer is null).
#ifndef OMPT_OMPT_STATE_H
#define OMPT_OMPT_STATE_H

#include "ompt_host_state.h"
#include "omptarget_records.h"

#include <cstddef>
#include <cstdint>

// Set once by __tgt_rtl_init_ompt; owned by the host runtime.
extern OmptHostState *OmptState;

// Writes the fixed prefix and the message when the start-up debug level is above 0.
void omptWarning(const char *Fmt, ...) __attribute__((format(printf, 1, 2)));

// The calling thread's entry in the host's map, inserted empty on first use. Entries never move,
// so the reference stays valid after the lock is released.
OmptThreadState &omptThreadEntry(OmptHostState &State);

// Device notifications, each made only when the tool registered the callback and OMPT is enabled.
void omptNotifyDeviceInitialize(int32_t DeviceId);
void omptNotifyDeviceLoad(int32_t DeviceId, const DeviceImage *Image);
// Unload, then finalize.
void omptNotifyDeviceShutdown(int32_t DeviceId);

// The launch hook: records the calling thread's number of teams and threads per team.
void omptRecordLaunch(size_t NumTeams, size_t ThreadsPerTeam);

#endif
