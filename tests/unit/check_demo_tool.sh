#!/usr/bin/env bash
# The demo under the example tool on the machine's CPU device: everything it prints from the first
# region on, in order (launch times aside), with the tool's one-line summary counting the real run:
# each region verified against the host, the interop object, 3 launches of 16, 1 and 13 x 10 teams.
set -euo pipefail
demo=$1 image=$2 layers=$3 # layers: the OPENCL_LAYERS list
bytes=$(stat -c %s "$image")
out=$(OPENCL_LAYERS=$layers LIBOMPTARGET_DEVICETYPE=cpu "$demo" 2>/dev/null)
expected="demo: saxpy: y[0] = 1, y[1] = 4.5, y[1023] = 2561.5 -- verified against the host (T ms)
demo: sum: 1 + ... + 100 + counter = 5057 -- verified against the host (T ms)
demo: grid: grid[0][0] = 0, grid[9][99] = 9099 -- verified against the host (T ms)
demo: interop fr_id = 3, fr_name = opencl, device_num = 0, targetsync set
demo: use_interop -> 0, sync_barrier -> 0
demo: release_interop -> 0
ompt_summary: 1 device(s) initialized, 1 image(s) loaded ($bytes bytes), 3 kernel launch(es), 147 team(s), at most 64 threads per team, 1 device(s) finalized
demo: done"
got=$(printf '%s\n' "$out" | sed -n '/^demo: saxpy:/,$p' | sed -E 's/\([0-9.]+ ms\)$/(T ms)/')
if [ "$got" != "$expected" ]; then
  echo "unexpected demo output:"; printf '%s\n' "$out"; exit 1
fi
echo "$got" | tail -2
