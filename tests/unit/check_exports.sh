#!/usr/bin/env bash
# The plugin exports every entry point the host runtime may look up, and nothing else.
set -euo pipefail
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}')
[ -n "$symbols" ] || { echo "no exported symbols in $lib"; exit 1; }
# Every entry point the host runtime may look up.
required="register_lib unregister_lib number_of_devices init_requires init_device get_context_handle
  get_device_name is_supported_device get_device_info is_valid_binary load_binary add_build_options
  set_function_ptr_map data_alloc data_alloc_base data_aligned_alloc data_realloc data_delete
  requires_mapping get_data_alloc_info is_accessible_addr_range get_device_from_ptr
  notify_indirect_access data_submit data_submit_async data_retrieve data_retrieve_async
  is_data_exchangable data_exchange run_target_team_nd_region launch_kernel
  manifest_data_for_region is_private_arg_on_host create_interop release_interop use_interop
  get_interop_property_value get_interop_property_info get_num_interop_properties
  get_interop_rc_desc flush_queue sync_barrier async_barrier synchronize init_ompt"
missing=""
for name in $required; do
  grep -qx "__tgt_rtl_$name" <<<"$symbols" || missing="$missing __tgt_rtl_$name"
done
for name in elf_check_machine elf_is_dynamic; do
  grep -qx "$name" <<<"$symbols" || missing="$missing $name"
done
[ -z "$missing" ] || { echo "entry points missing:$missing"; exit 1; }
stray=$(echo "$symbols" | grep -vE '^(__tgt_rtl_[A-Za-z0-9_]+|elf_check_machine|elf_is_dynamic)$' || true)
if [ -n "$stray" ]; then
  echo "symbols exported beyond the entry points:"; echo "$stray"; exit 1
fi
echo "exports: $(echo "$symbols" | wc -l) entry points, nothing else"
