# The build pipeline of image loading.
if(TARGET fakecl)
  fake_driver_test(program_build_test program_build_test.cpp)
  set_tests_properties(program_build_test PROPERTIES LABELS program)
endif()

# A real image through the whole pipeline on the machine's CPU device, with the layer.
if(TARGET omptarget_cl_spirv AND DEMO_IMAGE_PATH)
  plugin_test(pocl_load_test pocl_load_test.cpp)
  target_compile_definitions(pocl_load_test PRIVATE DEMO_IMAGE_PATH="${DEMO_IMAGE_PATH}"
    LAYER_PATH="${OMPTARGET_CL_LAYERS}")
  add_dependencies(pocl_load_test ${OMPTARGET_CL_LAYER_TARGETS} demo_image)
  if(TARGET device_libraries)
    add_dependencies(pocl_load_test device_libraries)
  endif()
  add_test(NAME pocl_load COMMAND pocl_load_test)
  set_tests_properties(pocl_load PROPERTIES TIMEOUT 180 LABELS real_platform
    ENVIRONMENT "LIBOMPTARGET_DEVICETYPE=cpu;LIBOMPTARGET_DYNAMIC_MEMORY_SIZE=1;POCL_CACHE_DIR=${CMAKE_CURRENT_BINARY_DIR}/pocl-cache")
endif()
