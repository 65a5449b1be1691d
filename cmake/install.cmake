# What `cmake --install build --prefix P` puts in P: the plugin with the device libraries beside
# it and the layer in lib/, the host runtime stand-in library, the packager and the demo in bin/,
# the plugin interface, the host runtime headers and the device-code kit in include/, and the
# demo's offload image in share/omptarget/. With the OpenMP toolchain: libomptarget.so and the
# device runtime in lib/, omptarget-cc and omptarget-c++ in bin/, the examples' sources in
# share/omptarget/examples/.
include(GNUInstallDirs)
install(TARGETS omptarget.rtl.opencl LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET omptarget_cl_layer)
  install(TARGETS omptarget_cl_layer LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
foreach(name cassert cmath cmath-fp64 complex complex-fp64 cstring)
  install(FILES ${PROJECT_BINARY_DIR}/lib/libomp-fallback-${name}.spv
          DESTINATION ${CMAKE_INSTALL_LIBDIR} OPTIONAL)
endforeach()
install(TARGETS hostrt ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/omptargetplugin.h include/omptarget_records.h hostrt/host_plugin.h
              hostrt/host_runtime.h devicelib/include/omp_offload_kit.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS omptarget-package offload_demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(DEMO_IMAGE_PATH)
  install(FILES ${DEMO_IMAGE_PATH} DESTINATION ${CMAKE_INSTALL_DATADIR}/omptarget)
endif()
# The host runtime beside the plugin, where it looks for the plugin (the compiler driver and the
# device runtime's bitcode install themselves; the examples' sources come from examples/).
if(TARGET omptarget)
  install(TARGETS omptarget LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
