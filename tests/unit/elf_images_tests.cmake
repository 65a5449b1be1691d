# The ELF reader, image recognition and the container walk. The reader's code is linked in; the
# debug level is read once per process, so these binaries run with debugging on and check the
# messages of each case in a child process.
plugin_test(elf_reader_test elf_reader_test.cpp)
add_test(NAME elf_reader COMMAND elf_reader_test)
set_tests_properties(elf_reader PROPERTIES TIMEOUT 120 LABELS images ENVIRONMENT LIBOMPTARGET_DEBUG=1)

# The exported recognition entry points, from the plugin library loaded in a child per level.
plugin_test(elf_entry_points_test elf_entry_points_test.cpp)
add_test(NAME elf_entry_points COMMAND elf_entry_points_test)
set_tests_properties(elf_entry_points PROPERTIES TIMEOUT 120 LABELS images)

plugin_test(elf_container_test elf_container_test.cpp)
add_test(NAME elf_container COMMAND elf_container_test)
set_tests_properties(elf_container PROPERTIES TIMEOUT 120 LABELS images ENVIRONMENT LIBOMPTARGET_DEBUG=1)

# Packaged images loaded over the fake driver.
if(TARGET fakecl)
  fake_driver_test(elf_container_load_test elf_container_load_test.cpp)
  set_tests_properties(elf_container_load_test PROPERTIES LABELS "images;fake_driver")
endif()
