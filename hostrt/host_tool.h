// The host runtime's side of an OMPT tool: it starts the tool through the tool's ompt_start_tool,
// lets it register callbacks through the host's own lookup function, owns the tool state the
// plugin is handed, and tells the tool about target regions.
#ifndef HOSTRT_HOST_TOOL_H
#define HOSTRT_HOST_TOOL_H

#include "host_plugin.h"
#include "ompt_host_state.h"

#include <atomic>
#include <string>

struct HostTool {
  void *Handle = nullptr;                     // the tool library, when loaded from a file
  ompt_start_tool_result_t *Result = nullptr; // what ompt_start_tool gave; null: no tool
  ompt_callback_target_t TargetCallback = nullptr;
  std::atomic<uint64_t> NextTargetId{1};
  OmptHostState State; // handed to the plugin's __tgt_rtl_init_ompt
};

using OmptStartToolFn = ompt_start_tool_result_t *(*)(unsigned int, const char *);

// Starts a tool: calls Start, then the tool's initialize, which may register callbacks. False when
// the tool declines (Start gives null or initialize gives 0); the state then stays disabled.
bool startHostTool(OmptStartToolFn Start, HostTool &Tool);
// The same for a tool library at Path; false with a reason in Error.
bool loadHostTool(const std::string &Path, HostTool &Tool, std::string &Error);
// Calls the tool's finalize (after the plugin has shut down) and closes its library.
void finalizeHostTool(HostTool &Tool);

// Runs a target region as the host runtime does with a tool attached: a new target id in the
// calling thread's entry, the tool's target callback around the launch, the code location of the
// region stored for the tool. Returns the launch's result.
int32_t runTargetRegion(HostPlugin &Plugin, HostTool *Tool, int32_t DeviceId, void *Entry,
                        void **Args, ptrdiff_t *Offsets, int32_t NumArgs, int32_t NumTeams,
                        int32_t ThreadLimit, const char *CodeLocation,
                        const LoopDescriptor *Loops = nullptr);

#endif
