# fuzz_web: request bodies, origin headers and cookies through pqw-web's API
# checks.
if(COMMAND pqw_add_fuzzer AND TARGET pqw_web)
  pqw_add_fuzzer(web ${CMAKE_CURRENT_LIST_DIR}/web_fuzz.cc)
  target_link_libraries(fuzz_web PRIVATE pqw_web)
endif()
