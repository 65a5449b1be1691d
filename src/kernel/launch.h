// Running a target region: argument binding, implicit allocations, the ND-range, the enqueue and
// the wait.
#ifndef KERNEL_LAUNCH_H
#define KERNEL_LAUNCH_H

#include "frame/opencl.h"
#include "omptarget_records.h"

#include <cstddef>
#include <cstdint>

// Runs Kernel on the device and waits for it; 0 when it ran to completion, -1 otherwise.
int32_t runTargetTeamNDRegion(int32_t DeviceId, cl_kernel Kernel, void **TgtArgs,
                              ptrdiff_t *TgtOffsets, int32_t NumArgs, int32_t NumTeams,
                              int32_t ThreadLimit, const LoopDescriptor *Loops);

// Set by the tool interface while a tool listens: called on the launching thread, under the device
// mutex, just before each enqueue, with the launch's number of teams and threads per team.
extern void (*LaunchRecordHook)(size_t NumTeams, size_t ThreadsPerTeam);

// The kernel info record of a kernel: the first of the device's programs that holds one wins.
struct KernelInfoTy;
const KernelInfoTy *findKernelInfo(int32_t DeviceId, cl_kernel Kernel);

// Writes a launch failure that must be seen at every debug level: with the debug prefix when
// debugging is on, else after "OPENCL error: ".
void reportLaunchError(const char *Message);

#endif
