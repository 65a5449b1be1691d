#!/usr/bin/env bash
# A compiled OpenMP program (the matmul example: a scalar region, then the product) under the
# example OMPT tool, started by the host OpenMP runtime, with the plugin's timeline on: the tool
# counts the device, the image, both launches, and names both regions by their kernel names; the
# timeline holds both kernels on the host thread's track and on the device queue's. Numbers that
# vary (times, sizes, teams, ids and line numbers in kernel names) are masked.
set -euo pipefail
program=$1 tool=$2 layers=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
OPENCL_LAYERS=$layers LIBOMPTARGET_DEVICETYPE=cpu OMP_TARGET_OFFLOAD=MANDATORY \
  OMP_TOOL_LIBRARIES=$tool LIBOMPTARGET_OPENCL_TRACE_FILE=$scratch/timeline.json \
  "$program" 64 >"$scratch/out"
mask() { sed -E 's/__omp_offloading_[0-9a-f]+_[0-9a-f]+_([A-Za-z_]+)_l[0-9]+/KERNEL(\1)/g; s/[0-9]+(\.[0-9]+)? (ms|bytes|team)/N \2/g; s/at most [0-9]+/at most N/'; }
expected="matmul: 64 x 64 doubles, on device 0, N ms, verified against the host
ompt_summary: region KERNEL(example_where): 1 launch(es)
ompt_summary: region KERNEL(main): 1 launch(es)
ompt_summary: 1 device(s) initialized, 1 image(s) loaded (N bytes), 2 kernel launch(es), N team(s), at most N threads per team, 1 device(s) finalized"
got=$(mask <"$scratch/out")
if [ "$got" != "$expected" ]; then
  echo "unexpected output under the tool:"; cat "$scratch/out"; exit 1
fi
# Track 0 of a device is its queue; the host threads' tracks are numbered from 1.
expected_slices="KERNEL(example_where) device
KERNEL(example_where) host
KERNEL(main) device
KERNEL(main) host"
slices=$(sed -nE 's/.*"cat":"kernel".*"name":"([^"]+)".*"tid":([0-9]+).*/\1 \2/p' "$scratch/timeline.json" |
         mask | awk '{ print $1, ($2 == 0 ? "device" : "host") }' | sort -u)
if [ "$slices" != "$expected_slices" ]; then
  echo "unexpected kernel slices in the timeline:"; cat "$scratch/timeline.json"; exit 1
fi
echo "$got"
