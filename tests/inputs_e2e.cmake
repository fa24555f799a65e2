# The inputs of the real daemon in --sim: a viewer's record command opens the
# lens shield and, after the stop, the newest file of a loopback FTP card
# shows in the HudBlock; a simulated I2C panel zooms and toggles the shield.
if(COMMAND pqw_add_e2e_test)
  pqw_add_e2e_test(inputs_e2e_test ${CMAKE_CURRENT_LIST_DIR}/inputs_e2e_test.cc)
endif()
