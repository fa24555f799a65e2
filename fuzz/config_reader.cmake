pqw_add_fuzzer(config_reader ${CMAKE_CURRENT_LIST_DIR}/config_reader.cc)
