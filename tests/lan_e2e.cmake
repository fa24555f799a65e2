# Who on the LAN the real daemon hears (--viewer-allow), and pqw-viewer's
# command line against it.
if(COMMAND pqw_add_e2e_test)
  pqw_add_e2e_test(lan_e2e_test ${CMAKE_CURRENT_LIST_DIR}/lan_e2e_test.cc)
endif()
