# The program data record and the device heap.
if(TARGET fakecl)
  fake_driver_test(program_data_test program_data_test.cpp)
  set_tests_properties(program_data_test PROPERTIES LABELS program)
endif()
