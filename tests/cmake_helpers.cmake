# vigilo_add_test_dir(<libs...>): one test program per *_test.cpp in the calling folder,
# linked with GoogleTest/GoogleMock and the given libraries; every test case is registered
# with CTest, labelled with its program's target name (scripts/tsan.sh picks its suites by
# label). Folders shared by several areas need no edits when a test file is added.
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
      PROPERTIES ENVIRONMENT "VIGILO_RUN_DIR=${VIGILO_RUN_DIR}" LABELS ${target})
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

# vigilo_fuzz_runs(<prefix> <fuzzer dir> <work dir> <environment> <entries...>): one CTest
# entry <prefix>_<name> per entry "name|seed kind|seed files|longest input|seconds". Each runs
# <fuzzer dir>/fuzz_<name> for its seconds in a scratch directory of its own, from a fresh
# corpus that client_fuzz_seeds writes for the seed kind (from the seed files, if any).
function(vigilo_fuzz_runs prefix fuzzer_dir work env)
  foreach(entry ${ARGN})
    string(REPLACE "|" ";" f "${entry}")
    list(GET f 0 name)
    list(GET f 1 kind)
    list(GET f 2 files)
    list(GET f 3 max_len)
    list(GET f 4 seconds)
    add_test(NAME ${prefix}_${name}
      COMMAND sh -c "rm -rf corpus_${name} && mkdir corpus_${name} && \"$1\" ${kind} corpus_${name} ${files} >/dev/null && \"$3\" \"$2\" -max_total_time=${seconds} -max_len=${max_len} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=${work}/${name}- ${work}/corpus_${name}"
              sh $<TARGET_FILE:client_fuzz_seeds> ${fuzzer_dir}/fuzz_${name}
              ${CMAKE_SOURCE_DIR}/tests/client/fuzz/in_scratch_dir.sh
      WORKING_DIRECTORY ${work})
    set_tests_properties(${prefix}_${name} PROPERTIES TIMEOUT 120 ENVIRONMENT "${env}")
  endforeach()
endfunction()
