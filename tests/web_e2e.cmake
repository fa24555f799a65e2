# pqw-web against the real daemon in --sim and the camera simulator.
if(COMMAND pqw_add_e2e_test AND TARGET pqw-web)
  add_library(pqw_web_e2e STATIC ${CMAKE_CURRENT_LIST_DIR}/web_e2e_support.cc)
  target_link_libraries(pqw_web_e2e PUBLIC pqw_e2e)
  pqw_add_e2e_test(web_e2e_test ${CMAKE_CURRENT_LIST_DIR}/web_e2e.cc)
  target_link_libraries(web_e2e_test PRIVATE pqw_web_e2e)
  add_dependencies(web_e2e_test pqw-web)
endif()
