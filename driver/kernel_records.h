// Device-code rewrites and additions that shape the launches of the kernels on the CPU device.
#ifndef OMPTARGET_CC_KERNEL_RECORDS_H
#define OMPTARGET_CC_KERNEL_RECORDS_H

#include <string>
#include <vector>

// Device IR with the distribute loops of SPMD kernels that have no dist_schedule clause (the
// compiler's default: chunks of the team's size, dealt round-robin) scheduled as contiguous
// blocks, one per team, which the OpenMP default leaves to the implementation. Kernels lists the
// kernels changed.
std::string defaultDistributeUnchunked(const std::string &DeviceIR,
                                       std::vector<std::string> &Kernels);

// Kernel info records ("<kernel>_kernel_info", version 5) for Kernels: their arguments (none
// passed by value through the record: the host runtime hands literals over as values), no
// sizing attribute and teams of one work-item. The plugin then launches teams across the device
// (one per compute unit on a CPU) rather than a work-item per loop iteration, and each work-item
// runs its team's block of the loop in order; the compiler's default schedule within a team
// deals single iterations round-robin, which only a one-thread team runs in order.
std::string kernelInfoIR(const std::string &DeviceIR, const std::vector<std::string> &Kernels);

// Linked device IR with the runtime's "__devrt_uses_team_stack" set to 0 when nothing in it can
// allocate on a team's shared stack (the runtime's allocator was not linked in), so that SPMD
// kernels start without a barrier.
std::string settleTeamStackUse(const std::string &LinkedIR);

#endif
