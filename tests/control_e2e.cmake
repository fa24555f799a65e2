# Camera control of the real daemon: pqw-viewer commands through the daemon
# to pqw-camsim, the HUD mailbox and the RC value report.
if(COMMAND pqw_add_e2e_test)
  pqw_add_e2e_test(control_e2e_test ${CMAKE_CURRENT_LIST_DIR}/control_e2e_test.cc)
endif()
