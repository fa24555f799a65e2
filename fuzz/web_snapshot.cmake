# fuzz_web_snapshot: the daemon's datagrams as pqw-web decodes them into its
# snapshot.
if(COMMAND pqw_add_fuzzer AND TARGET pqw_web)
  pqw_add_fuzzer(web_snapshot ${CMAKE_CURRENT_LIST_DIR}/web_snapshot_fuzz.cc)
  target_link_libraries(fuzz_web_snapshot PRIVATE pqw_web)
endif()
