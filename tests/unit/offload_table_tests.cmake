# The device's offload table, the device entries and kernels made from it, and device globals.
if(COMMAND fake_driver_test)
  fake_driver_test(offload_table_test offload_table_test.cpp)
  fake_driver_test(build_kernels_test build_kernels_test.cpp)
  set_tests_properties(offload_table_test build_kernels_test PROPERTIES LABELS "program")

  # With the leak checker linked in, the table tests also find name copies a failed load lost.
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -fsanitize=leak)
  set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=leak)
  check_cxx_source_compiles("#include <sanitizer/lsan_interface.h>
    int main() { return __lsan_do_recoverable_leak_check(); }" HAVE_LEAK_SANITIZER)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(HAVE_LEAK_SANITIZER)
    target_link_options(offload_table_test PRIVATE -fsanitize=leak)
    target_compile_definitions(offload_table_test PRIVATE OFFLOAD_TABLE_LEAK_CHECK)
  endif()
endif()
