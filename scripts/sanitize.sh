#!/usr/bin/env bash
# Builds the plugin, the fake driver and the tests once per sanitizer, each in its own build
# directory, and runs the suites that sanitizer is for:
#   build-asan  AddressSanitizer with UndefinedBehaviorSanitizer: the suites over the fake driver
#               (the layer's among them) with leak checking, also inside the tests' child
#               processes, then the real-device end-to-end suite and the stress test on PoCL
#               without it (PoCL's own allocations are not the plugin's to free);
#   build-tsan  ThreadSanitizer: the concurrency tests, the stress test over two fake devices
#               among them.
# Usage: scripts/sanitize.sh [asan|tsan]... (both by default).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
configs=("$@")
[ ${#configs[@]} -eq 0 ] && configs=(asan tsan)

# Test executables of the suites that run over the fake driver.
fake_targets="fakecl_tests frame_pure_test frame_child_test cl_call_test cl_trace_test
  device_discovery_test device_init_test memory_table_test profile_print_test transfer_test
  memory_alloc_test memory_messages_test profile_timer_test memory_concurrency_test
  program_build_test offload_table_test build_kernels_test kernel_info_test program_data_test
  group_sizes_test launch_test launch_concurrency_test interop_test ompt_test
  interop_concurrency_test fault_sweep_test stress_test layer_fake_driver_test"
fake_tests='^(fakecl_tests|frame_pure|frame_child|cl_call_level_.*|cl_trace_level_.*|device_discovery_test|device_init_test|memory_table_test|profile_print_test|transfer_test|memory_alloc_test|memory_messages_test|profile_timer_test|memory_concurrency_test|program_build_test|offload_table_test|build_kernels_test|kernel_info_test|program_data_test|group_sizes|launch_test|launch_concurrency_test|interop_test|ompt_test|interop_concurrency_test|fault_sweep|fault_sweep_layer|layer_fake_driver_test)$'

configure() {
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=None -DOMPTARGET_SANITIZE="$2" >/dev/null
}

for config in "${configs[@]}"; do
  case "$config" in
  asan)
    configure build-asan address
    # shellcheck disable=SC2086
    cmake --build build-asan -j"$jobs" --target $fake_targets e2e_test
    cd build-asan
    # allocator_may_return_null: the plugin's nothrow allocations of absurd sizes must get null.
    export UBSAN_OPTIONS=print_stacktrace=1
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
      ctest --output-on-failure -j"$jobs" -R "$fake_tests"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 GTEST_FILTER='Stress.TwoFakeDevices' \
      ctest --output-on-failure -R '^stress$'
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1 \
      ctest --output-on-failure -R '^(e2e|e2e_two_devices)$'
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1 GTEST_FILTER='Stress.TwoPoclDevices' \
      ctest --output-on-failure -R '^stress$'
    cd ..
    ;;
  tsan)
    configure build-tsan thread
    cmake --build build-tsan -j"$jobs" --target memory_concurrency_test launch_concurrency_test \
      interop_concurrency_test stress_test
    cd build-tsan
    # A race ends the child that saw it with status 66, which fails its test.
    TSAN_OPTIONS=halt_on_error=1:exitcode=66 ctest --output-on-failure -j"$jobs" -L concurrency
    cd ..
    ;;
  *)
    echo "unknown configuration $config (asan or tsan)" >&2
    exit 2
    ;;
  esac
done
