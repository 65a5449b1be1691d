#!/usr/bin/env bash
# Sets up, builds and runs the demo: the plugin loaded and driven as the host runtime does, with
# the plugin's debug output on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
LIBOMPTARGET_DEBUG=${LIBOMPTARGET_DEBUG:-1} ./build/demo/offload_demo
