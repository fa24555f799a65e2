pqw_add_e2e_test(config_e2e_test ${CMAKE_CURRENT_LIST_DIR}/config_e2e_test.cc)
