#!/usr/bin/env bash
# Sets up, builds and runs the demo: the plugin loaded and driven as the host runtime does, with
# the plugin's debug output and its profile table on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
# The real OpenCL device on these machines is a CPU; the project's two OpenCL layers give it the
# unified shared memory and the SPIR-V support the plugin needs (the SPIR-V layer outermost).
export OPENCL_LAYERS=${OPENCL_LAYERS:-$PWD/build/lib/libomptarget_cl_usm.so:$PWD/build/lib/libomptarget_cl_spirv.so}
LIBOMPTARGET_DEBUG=${LIBOMPTARGET_DEBUG:-1} LIBOMPTARGET_DEVICETYPE=${LIBOMPTARGET_DEVICETYPE:-cpu} \
  LIBOMPTARGET_PLUGIN_PROFILE=${LIBOMPTARGET_PLUGIN_PROFILE:-T} ./build/demo/offload_demo
