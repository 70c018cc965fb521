# vigilo_add_test_dir(<libs...>): one test program per *_test.cpp in the calling folder,
# linked with GoogleTest/GoogleMock and the given libraries; every test case is registered
# with CTest. Folders shared by several areas need no edits when a test file is added.
function(vigilo_add_test_dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" prefix "${rel}")
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    set(target ${prefix}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      PROPERTIES ENVIRONMENT "VIGILO_RUN_DIR=${VIGILO_RUN_DIR}")
  endforeach()
endfunction()

# vigilo_find_libfuzzer(<var>): sets <var> TRUE when clang (VIGILO_CLANGXX, VIGILO_CLANG) can
# link a libFuzzer target with ASan, else FALSE. The fuzz folders build their targets with it.
function(vigilo_find_libfuzzer var)
  find_program(VIGILO_CLANGXX NAMES clang++-14 clang++)
  find_program(VIGILO_CLANG NAMES clang-14 clang)
  set(ok FALSE)
  if(VIGILO_CLANGXX AND VIGILO_CLANG)
    set(probe ${CMAKE_CURRENT_BINARY_DIR}/fuzz_probe.cpp)
    file(WRITE ${probe} "#include <cstdint>\n#include <cstddef>\nextern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
    execute_process(COMMAND ${VIGILO_CLANGXX} -fsanitize=fuzzer,address ${probe} -o ${CMAKE_CURRENT_BINARY_DIR}/fuzz_probe
                    RESULT_VARIABLE probe_rc OUTPUT_QUIET ERROR_QUIET)
    if(probe_rc EQUAL 0)
      set(ok TRUE)
    endif()
  endif()
  set(${var} ${ok} PARENT_SCOPE)
endfunction()
