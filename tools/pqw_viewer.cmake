# pqw-viewer: register with the daemon, print what it sends as JSON lines.
add_executable(pqw-viewer ${CMAKE_CURRENT_LIST_DIR}/pqw_viewer.cc
                          ${CMAKE_CURRENT_LIST_DIR}/viewer_decode.cc)
target_include_directories(pqw-viewer PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(pqw-viewer PRIVATE pqw_platform PkgConfig::CJSON)

if(PQW_TESTS)
  pqw_add_test(viewer_decode_test ${CMAKE_CURRENT_LIST_DIR}/viewer_decode_test.cc
               ${CMAKE_CURRENT_LIST_DIR}/viewer_decode.cc)
endif()
