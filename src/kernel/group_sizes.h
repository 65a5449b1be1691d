// The ND-range of a launch: how many teams (work-groups) of how many threads (work-items) run a
// target region, from the OpenMP clauses, the environment, the kernel and the device. A pure
// function of its inputs; the one driver call it may make is passed in as a function pointer.
#ifndef KERNEL_GROUP_SIZES_H
#define KERNEL_GROUP_SIZES_H

#include "device/device_records.h"
#include "device/extension_api.h"
#include "frame/opencl.h"
#include "frame/options.h"
#include "kernel/kernel_property.h"
#include "omptarget_records.h"
#include "program/kernel_info.h"

#include <cstddef>
#include <cstdint>

struct GroupSizeInputs {
  const PluginOptions *Option = nullptr;
  const DevicePropertiesTy *Properties = nullptr;
  const DeviceExtensionsTy *Extensions = nullptr;
  uint64_t Arch = 0; // the device's architecture code
  const KernelProperty *Kernel = nullptr;
  const KernelInfoTy *Info = nullptr; // null when the kernel has no info record
  cl_kernel KernelHandle = nullptr;   // named in messages, passed to the driver suggestion
  int32_t NumTeams = 0;               // the clauses; below 1: not given
  int32_t ThreadLimit = 0;
  const LoopDescriptor *Loops = nullptr; // null for a kernel without a loop descriptor
  // The driver's suggestion of a work-group size, when the platform has it.
  clGetKernelSuggestedLocalWorkSizeTARNO_fn Suggest = nullptr;
  cl_command_queue Queue = nullptr;
};

struct GroupSizes {
  size_t Global[3] = {1, 1, 1};
  size_t Local[3] = {1, 1, 1};
};

// Every size it yields is at least 1 and Global is a multiple of Local, and at least Local, in each
// dimension. False, with an error message, when the launch needs a global size beyond 64 bits (a
// loop of 2^64 - 1 iterations, say): nothing must be enqueued then.
bool decideGroupSizes(const GroupSizeInputs &In, GroupSizes &Out);

// Whether a device with the attribute query belongs to the families whose cross-team reductions
// run with fewer teams (its PCI id with the low byte cleared is listed).
bool isReductionListedFamily(const DevicePropertiesTy &Properties,
                             const DeviceExtensionsTy &Extensions);

#endif
