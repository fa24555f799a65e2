# The camera link of the real daemon: --sim with pqw-camsim, a viewer and the
# DJI Go bridge over loopback.
if(COMMAND pqw_add_e2e_test)
  pqw_add_e2e_test(link_e2e_test ${CMAKE_CURRENT_LIST_DIR}/link_e2e_test.cc)
endif()
