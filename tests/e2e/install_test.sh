#!/usr/bin/env bash
# Installs the build tree into a fresh prefix and runs the demo from there: the installed plugin,
# layer, device libraries and image must work without the build tree. When the build has the
# OpenMP compiler driver, an example is also compiled from the installed sources by the installed
# driver and run through the installed host runtime and plugin.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in lib/libomptarget.rtl.opencl.so lib/libomptarget_cl_layer.so lib/libomp-fallback-cmath.spv \
            lib/libhostrt.a include/omptargetplugin.h include/host_runtime.h include/omp_offload_kit.h \
            bin/omptarget-package bin/offload_demo share/omptarget/demo_module.offload; do
  [ -e "$prefix/$file" ] || { echo "missing from the installed tree: $file"; exit 1; }
done
# The device libraries are found beside the installed plugin: the image and six libraries link.
OPENCL_LAYERS="$prefix/lib/libomptarget_cl_layer.so" LIBOMPTARGET_DEVICETYPE=cpu \
  LIBOMPTARGET_QUVELA_LINK_LIBDEVICE=1 LIBOMPTARGET_DEBUG=1 \
  "$prefix/bin/offload_demo" "$prefix/lib/libomptarget.rtl.opencl.so" \
  "$prefix/share/omptarget/demo_module.offload" 2>"$prefix/stderr"
grep -q "Successfully linked 7 programs" "$prefix/stderr" || { cat "$prefix/stderr"; exit 1; }

if [ -x "$build/bin/omptarget-cc" ]; then
  for file in bin/omptarget-cc lib/libomptarget.so lib/libomptarget-spirv64.bc \
              share/omptarget/examples/matmul.c share/omptarget/examples/example_report.h; do
    [ -e "$prefix/$file" ] || { echo "missing from the installed tree: $file"; exit 1; }
  done
  # Nothing of the build tree may be reached: the program is built and run from the prefix alone.
  "$prefix/bin/omptarget-cc" -O2 "$prefix/share/omptarget/examples/matmul.c" -o "$prefix/matmul" -lm
  built=$(cd "$build" && pwd)
  if readelf -d "$prefix/matmul" | grep -F "$built"; then
    echo "the installed driver linked the example against the build tree"
    exit 1
  fi
  OPENCL_LAYERS="$prefix/lib/libomptarget_cl_layer.so" LIBOMPTARGET_DEVICETYPE=cpu \
    OMP_TARGET_OFFLOAD=MANDATORY LIBOMPTARGET_DEBUG=1 "$prefix/matmul" 96 \
    >"$prefix/stdout" 2>"$prefix/stderr" || { cat "$prefix/stdout" "$prefix/stderr"; exit 1; }
  grep -q "on device 0, .* ms, verified against the host" "$prefix/stdout" || { cat "$prefix/stdout"; exit 1; }
  if grep -F "$built" "$prefix/stderr"; then
    echo "the installed example reached into the build tree"
    exit 1
  fi
fi
