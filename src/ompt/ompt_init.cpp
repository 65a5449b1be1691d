// Attaching the tool: the host runtime hands over its tool state, or null without a tool.
#include "kernel/launch.h"
#include "ompt/ompt_state.h"
#include "omptargetplugin.h"

extern "C" void __tgt_rtl_init_ompt(OmptHostState *State) {
  OmptState = State;
  if (!State) {
    omptWarning("Warning: cannot initialize OMPT\n");
    return;
  }
  LaunchRecordHook = omptRecordLaunch;
  omptWarning("Initialized OMPT\n");
}
