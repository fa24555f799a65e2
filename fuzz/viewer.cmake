# fuzz_viewer: arbitrary datagrams through the viewer receive path and the
# client table, and through pqw-viewer's decoder.
set(pqw_viewer_fuzz_src ${CMAKE_CURRENT_LIST_DIR}/viewer_fuzz.cc
                        ${CMAKE_SOURCE_DIR}/tools/viewer_decode.cc)
if(COMMAND pqw_add_fuzzer)
  pqw_add_fuzzer(viewer ${pqw_viewer_fuzz_src})
else()
  add_executable(fuzz_viewer ${pqw_viewer_fuzz_src})
  target_link_libraries(fuzz_viewer PRIVATE pqw_testing)
  target_link_options(fuzz_viewer PRIVATE -fsanitize=fuzzer)
endif()
