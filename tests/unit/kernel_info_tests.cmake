# Kernel info records.
if(TARGET fakecl)
  fake_driver_test(kernel_info_test kernel_info_test.cpp)
  set_tests_properties(kernel_info_test PROPERTIES LABELS program)
endif()
