# A libFuzzer target for the OpenCL layer's SPIR-V path: validation, translation (in the layer's
# translator helper, found beside this binary as beside the layer), the rewrite for the driver
# and the specialisation-constant reader on arbitrary bytes, without a driver, under the address
# and undefined-behaviour sanitizers. Included by CMakeLists.txt once clang++-15 and libFuzzer are known
# to work. The layer is built without RTTI (libLLVM is), and so are these objects.
find_package(SPIRV-Tools CONFIG REQUIRED)
get_target_property(LAYER_FUZZ_SPIRV_TOOLS SPIRV-Tools-static IMPORTED_LOCATION_RELEASE)

set(LAYER_FUZZ_SOURCES
  ${PROJECT_SOURCE_DIR}/layer/spirv/translator/spirv_check.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/translator/spirv_block_order.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/translator/spirv_lowering.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/translator/spirv_1_4_lowering.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/spirv_words.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/spirv_translate.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/isolated_call.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/translator_protocol.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/module_cache.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/llvm_support.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/module_finalize.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/globals_parameter.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/constant_image.cpp
  ${PROJECT_SOURCE_DIR}/layer/spirv/src/generic_builtins.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/layer_spirv_fuzzer.cpp)
set(LAYER_FUZZ_FLAGS -std=c++17 -g -O1 -fno-omit-frame-pointer -fno-rtti
  -fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined
  -I${PROJECT_SOURCE_DIR}/layer/spirv/src
  -I${PROJECT_SOURCE_DIR}/layer/spirv/translator -I${PROJECT_SOURCE_DIR}/layer/common/src -isystem ${LLVM_INCLUDE_DIRS}
  ${FUZZ_LLVM_DEFINITIONS}) # the translator's headers are in the default path

set(LAYER_FUZZ_DIR ${CMAKE_CURRENT_BINARY_DIR}/layer_spirv)
file(MAKE_DIRECTORY ${LAYER_FUZZ_DIR})
set(LAYER_FUZZ_BINARY ${CMAKE_CURRENT_BINARY_DIR}/layer_spirv_fuzzer)
add_fuzzer(layer_spirv_fuzzer FLAGS ${LAYER_FUZZ_FLAGS} SOURCES ${LAYER_FUZZ_SOURCES}
  LIBS ${LLVM_SPIRV_LIBRARY} ${LAYER_FUZZ_SPIRV_TOOLS})
add_custom_command(TARGET layer_spirv_fuzzer_build POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:omptarget_cl_spirv_translator>
          ${CMAKE_CURRENT_BINARY_DIR}/omptarget_cl_spirv_translator)
add_dependencies(layer_spirv_fuzzer_build omptarget_cl_spirv_translator)

# Seeds: the layer's test kernels and the device libraries, as built.
add_test(NAME layer_spirv_fuzz_seeds
  COMMAND sh -c "rm -rf seeds corpus && mkdir -p seeds corpus && cp \"$0\"/*.spv \"$1\"/*.spv seeds/"
          ${PROJECT_BINARY_DIR}/tests/layer/kernels ${PROJECT_BINARY_DIR}/lib
  WORKING_DIRECTORY ${LAYER_FUZZ_DIR})
# A bounded run; any crash, abort, sanitizer report, leak or hang (over 10 s per input) of the
# layer's own code fails it. The translator's own crashes are counted in the output.
add_test(NAME layer_spirv_fuzz
  COMMAND ${LAYER_FUZZ_BINARY} -max_total_time=60 -timeout=10 -rss_limit_mb=4096
          -print_final_stats=1 -artifact_prefix=${LAYER_FUZZ_DIR}/ corpus seeds
  WORKING_DIRECTORY ${LAYER_FUZZ_DIR})
set_tests_properties(layer_spirv_fuzz_seeds PROPERTIES FIXTURES_SETUP layer_spirv_corpus
  LABELS fuzz)
set_tests_properties(layer_spirv_fuzz PROPERTIES FIXTURES_REQUIRED layer_spirv_corpus
  LABELS fuzz TIMEOUT 150)
