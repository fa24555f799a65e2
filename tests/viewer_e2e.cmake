# The viewer link of the real daemon over loopback (one daemon per suite,
# free ports, so it runs beside the other end-to-end tests).
if(COMMAND pqw_add_e2e_test)
  pqw_add_e2e_test(viewer_e2e_test ${CMAKE_CURRENT_LIST_DIR}/viewer_e2e_test.cc)
endif()
