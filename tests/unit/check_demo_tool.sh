#!/usr/bin/env bash
# The demo under the example tool on the machine's CPU device: everything it prints from the first
# launch on, in order, with the tool's one-line summary counting the real run.
set -euo pipefail
demo=$1 image=$2 layer=$3
bytes=$(stat -c %s "$image")
out=$(OPENCL_LAYERS=$layer LIBOMPTARGET_DEVICETYPE=cpu "$demo" 2>/dev/null)
expected="demo: saxpy with 4 teams of 64 -> 0
demo: saxpy with 8 teams of 32 -> 0
demo: saxpy results correct
demo: interop fr_id = 3, fr_name = opencl, device_num = 0, targetsync set
demo: use_interop -> 0, sync_barrier -> 0
demo: release_interop -> 0
demo: unregister_lib -> 0
ompt_summary: 1 device(s) initialized, 1 image(s) loaded ($bytes bytes), 2 kernel launch(es), 12 team(s), at most 64 threads per team, 1 device(s) finalized
demo: done"
got=$(printf '%s\n' "$out" | sed -n '/^demo: saxpy with/,$p')
if [ "$got" != "$expected" ]; then
  echo "unexpected demo output:"; printf '%s\n' "$out"; exit 1
fi
echo "$got" | tail -2
