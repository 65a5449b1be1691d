# The build pipeline of image loading.
if(TARGET fakecl)
  fake_driver_test(program_build_test program_build_test.cpp)
  set_tests_properties(program_build_test PROPERTIES LABELS program)
endif()
