#!/usr/bin/env bash
# Sets up, builds and runs the demo: the OpenMP examples compiled by omptarget-cc and run on the
# CPU device through libomptarget.so and the plugin, each checking itself against the host (the
# heat example once more over two devices), then the plugin loaded and driven as the host runtime
# does, with the plugin's debug output and its profile table on. Exits non-zero when an example
# or the plugin's demo is wrong.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
# The real OpenCL device on these machines is a CPU; the project's OpenCL layer gives it the
# unified shared memory and SPIR-V support the plugin needs.
export OPENCL_LAYERS=${OPENCL_LAYERS:-$PWD/build/lib/libomptarget_cl_layer.so}
export LIBOMPTARGET_DEVICETYPE=${LIBOMPTARGET_DEVICETYPE:-cpu}

failed=0
if [ -d build/bin/examples ]; then
  echo "== OpenMP examples, built with build/bin/omptarget-cc, on the CPU device"
  # Offloading is mandatory: an example that cannot run on the device fails instead of quietly
  # running on the host.
  export OMP_TARGET_OFFLOAD=${OMP_TARGET_OFFLOAD:-MANDATORY}
  runs=(saxpy heat dot_norm matmul declare_target nowait springs "two-devices heat")
  for run in "${runs[@]}"; do
    program=${run##* }
    devices=()
    [ "$run" != "$program" ] && devices=(env "POCL_DEVICES=pthread pthread")
    if ! "${devices[@]}" "build/bin/examples/$program"; then
      echo "demo: the $program example failed${devices:+ on two devices}"
      failed=$((failed + 1))
    fi
  done
  echo "== ${#runs[@]} example runs, $failed failed"
else
  echo "demo: no OpenMP examples in build/bin/examples (the compiler driver or a runtime is missing)"
  failed=1
fi

echo "== The plugin's own demo"
LIBOMPTARGET_DEBUG=${LIBOMPTARGET_DEBUG:-1} LIBOMPTARGET_PLUGIN_PROFILE=${LIBOMPTARGET_PLUGIN_PROFILE:-T} \
  ./build/demo/offload_demo || failed=$((failed + 1))
[ "$failed" -eq 0 ]
