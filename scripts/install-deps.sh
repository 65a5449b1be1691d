#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need. Idempotent: a second run
# on a machine that has everything makes no change and runs no apt-get.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  ocl-icd-opencl-dev opencl-headers ocl-icd-libopencl1
  llvm-15-dev libllvm15 clang-15 llvm-spirv-15 libllvmspirvlib-15-dev spirv-tools
  libomp-22-dev clang-22 clang-tools-22 llvm-22
  libgtest-dev libbenchmark-dev
  nlohmann-json3-dev
  pocl-opencl-icd
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
