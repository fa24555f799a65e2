# fuzz_config_command: arbitrary texts through the configuration command
# handler, with the shell sandboxed and the process-ending commands caught.
if(COMMAND pqw_add_fuzzer)
  pqw_add_fuzzer(config_command ${CMAKE_CURRENT_LIST_DIR}/config_command_fuzz.cc)
else()
  add_executable(fuzz_config_command ${CMAKE_CURRENT_LIST_DIR}/config_command_fuzz.cc)
  target_link_libraries(fuzz_config_command PRIVATE pqw_testing)
  target_link_options(fuzz_config_command PRIVATE -fsanitize=fuzzer)
endif()
