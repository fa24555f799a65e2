# fuzz_dispatch: arbitrary command texts through the camera command
# dispatcher, the command workers and the HUD mailbox poller.
if(COMMAND pqw_add_fuzzer)
  pqw_add_fuzzer(dispatch ${CMAKE_CURRENT_LIST_DIR}/dispatch_fuzz.cc)
else()
  add_executable(fuzz_dispatch ${CMAKE_CURRENT_LIST_DIR}/dispatch_fuzz.cc)
  target_link_libraries(fuzz_dispatch PRIVATE pqw_testing)
  target_link_options(fuzz_dispatch PRIVATE -fsanitize=fuzzer)
endif()
