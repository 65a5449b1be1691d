#!/usr/bin/env bash
# The plugin exports its entry points and nothing else.
set -euo pipefail
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}')
[ -n "$symbols" ] || { echo "no exported symbols in $lib"; exit 1; }
echo "$symbols" | grep -q '^__tgt_rtl_register_lib$' || { echo "register entry point missing"; exit 1; }
stray=$(echo "$symbols" | grep -vE '^(__tgt_rtl_[A-Za-z0-9_]+|elf_check_machine|elf_is_dynamic)$' || true)
if [ -n "$stray" ]; then
  echo "symbols exported beyond the entry points:"; echo "$stray"; exit 1
fi
echo "exports: $(echo "$symbols" | wc -l) entry points, nothing else"
