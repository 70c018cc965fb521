# The clang build of the client's fuzz targets (configured by tests/client/fuzz/CMakeLists.txt
# as a build of its own, with VIGILO_FUZZ_BUILD on): the client and what it links, compiled
# with libFuzzer's coverage, ASan and UBSan, and one program per target.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
# Only what the client links: other libraries of these folders are no concern of the fuzzers
# (and some refuse ASan's runtime symbols left to the executable).
foreach(dir platform/system platform/net platform/avdec platform/pixtree codecs/tir_dec
        forward/avcshim platform/sync platform/debug codecs/sonpak platform/quellaud
        platform/quellvid platform/tessra sdk forward/orvolib client)
  add_subdirectory(${dir})
endforeach()
# clang leaves ASan's runtime symbols to the executable, so a shared library linked here may
# not insist on having every symbol resolved.
foreach(lib Quellvid Tessra Quellaud OrvoSDK OrvoLib)
  get_target_property(opts ${lib} LINK_OPTIONS)
  list(REMOVE_ITEM opts -Wl,-z,defs)
  set_target_properties(${lib} PROPERTIES LINK_OPTIONS "${opts}")
endforeach()

set(fuzz_targets nc_stream ring_records ddns_reply setup_cfg skin_text mailslot recorded_files
    pic_stream tir_stream sdk_packets link_messages file_players)
foreach(t ${fuzz_targets})
  add_executable(fuzz_${t} ${CMAKE_SOURCE_DIR}/tests/client/fuzz/${t}_fuzz.cpp)
  target_link_libraries(fuzz_${t} PRIVATE vigilo_client_whole)
  target_link_options(fuzz_${t} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${t} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
endforeach()
# A fuzz target has no time to wait: where a receive thread or a player pauses, or a connect
# would start threads and allocate rings that no input steers, the linker sends the call to
# the target's own function (__wrap_<name>), which returns at once or plays the window's part
# (the players' next seek).
target_link_options(fuzz_pic_stream PRIVATE -Wl,--wrap=_Z11rx_pause_msPK13RECEIVER_INFOi)
target_link_options(fuzz_file_players PRIVATE -Wl,--wrap=_Z12player_sleepPK13RECEIVER_INFOj)
target_link_options(fuzz_link_messages PRIVATE -Wl,--wrap=nanosleep -Wl,--wrap=_Z14decoder_threadP11APP_CONTEXT
                    -Wl,--wrap=_Z20free_receive_buffersP11APP_OPTIONS)
