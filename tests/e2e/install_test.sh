#!/usr/bin/env bash
# Installs the build tree into a fresh prefix and runs the demo from there: the installed plugin,
# layers, device libraries and image must work without the build tree.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in lib/libomptarget.rtl.opencl.so lib/libomptarget_cl_usm.so lib/libomptarget_cl_spirv.so \
            lib/omptarget_cl_spirv_translator \
            lib/libomp-fallback-cmath.spv lib/libhostrt.a include/omptargetplugin.h include/host_runtime.h include/omp_offload_kit.h \
            bin/omptarget-package bin/offload_demo share/omptarget/demo_module.offload; do
  [ -e "$prefix/$file" ] || { echo "missing from the installed tree: $file"; exit 1; }
done
# The device libraries are found beside the installed plugin: the image and six libraries link.
OPENCL_LAYERS="$prefix/lib/libomptarget_cl_usm.so:$prefix/lib/libomptarget_cl_spirv.so" LIBOMPTARGET_DEVICETYPE=cpu \
  LIBOMPTARGET_QUVELA_LINK_LIBDEVICE=1 LIBOMPTARGET_DEBUG=1 \
  "$prefix/bin/offload_demo" "$prefix/lib/libomptarget.rtl.opencl.so" \
  "$prefix/share/omptarget/demo_module.offload" 2>"$prefix/stderr"
grep -q "Successfully linked 7 programs" "$prefix/stderr" || { cat "$prefix/stderr"; exit 1; }
