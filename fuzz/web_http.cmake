# fuzz_web_http: whole client connections through pqw-web's HTTP server
# (over socket pairs, no network).
if(COMMAND pqw_add_fuzzer AND TARGET pqw_web)
  pqw_add_fuzzer(web_http ${CMAKE_CURRENT_LIST_DIR}/web_http_fuzz.cc)
  target_link_libraries(fuzz_web_http PRIVATE pqw_web)
endif()
