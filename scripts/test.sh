#!/usr/bin/env bash
# Sets up, builds and runs every test through CTest, then the sanitizer builds' suites
# (scripts/sanitize.sh: build-asan and build-tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
(cd build && ctest --output-on-failure -j"$(nproc)" "$@")
bash scripts/sanitize.sh
