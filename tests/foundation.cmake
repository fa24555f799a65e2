pqw_add_e2e_test(foundation_e2e_test ${CMAKE_CURRENT_LIST_DIR}/foundation_e2e_test.cc)
