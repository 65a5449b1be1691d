// The OMPT tool of a compiled program. The host OpenMP runtime starts the tool and keeps the
// callbacks it registers; this runtime asks it for the device and target callbacks, hands the
// plugin the tool state with the device callbacks, and tells the tool about each target region,
// with the region's kernel name as the code location of its call site.
#ifndef LIBOMPTARGET_TOOL_CONNECTION_H
#define LIBOMPTARGET_TOOL_CONNECTION_H

#include "host_plugin.h"
#include "ompt_host_state.h"

#include <cstdint>

// Connects to the host OpenMP runtime's tool and hands the plugin the tool state (null without a
// tool) through __tgt_rtl_init_ompt, once, before the first device is initialised: the host
// OpenMP runtime starts its tool only when its own initialisation is complete, and that
// initialisation already asks for the number of devices. The caller holds the runtime's lock.
void offerTool(HostPlugin &Plugin);

// One target region as the tool sees it: the target callback at its start and at its end. Both
// are made with no lock of this runtime held, so that the tool may call the device routines.
struct ToolRegionScope {
  bool On = false;
  int32_t Device = 0;
  uint64_t TargetId = 0;
  const void *CodeAddress = nullptr;

  ToolRegionScope() = default;
  // Names the region's call site with the kernel of HostRegion, gives the calling thread a new
  // target id and calls the tool's target callback with the begin endpoint.
  void begin(int32_t DeviceId, const void *Address, const void *HostRegion);
  // The target callback with the end endpoint, when the region began.
  ~ToolRegionScope();
  ToolRegionScope(const ToolRegionScope &) = delete;
  ToolRegionScope &operator=(const ToolRegionScope &) = delete;
};

#endif
