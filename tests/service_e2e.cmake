# The daemon as a service: readiness and watchdog messages, journal
# priorities, one copy per shared-memory prefix, the reasons it ends, the
# health counters file.
if(COMMAND pqw_add_e2e_test)
  pqw_add_e2e_test(service_e2e_test ${CMAKE_CURRENT_LIST_DIR}/service_e2e_test.cc)
endif()
