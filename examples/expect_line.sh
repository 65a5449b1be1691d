#!/usr/bin/env bash
# Runs an example and passes when it exits with 0 and its line says it was verified with the
# given text before the time (where it ran), e.g.: expect_line.sh "on device 0" build/bin/examples/saxpy 1000
set -uo pipefail
expected=$1
shift
output=$("$@")
status=$?
printf '%s\n' "$output"
[ "$status" -eq 0 ] || { echo "expect_line: exit status $status"; exit 1; }
grep -Eq "$expected, [0-9.]+ ms, verified against the host\$" <<<"$output" ||
  { echo "expect_line: no line saying \"$expected, <time> ms, verified against the host\""; exit 1; }
