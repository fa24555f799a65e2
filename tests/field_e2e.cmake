# Field diagnostics: --capture, pqw-decode, pqw-camsim --replay and the
# Wireshark dissector (tshark) on one capture of the real daemon.
if(COMMAND pqw_add_e2e_test)
  pqw_add_e2e_test(field_e2e_test ${CMAKE_CURRENT_LIST_DIR}/field_e2e_test.cc)
  add_dependencies(field_e2e_test pqw-decode)
  target_compile_definitions(field_e2e_test PRIVATE PQW_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
