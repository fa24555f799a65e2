# pqw_e2e: helpers for end-to-end tests of the real daemon binary.
# pqw_add_e2e_test(name src...): a GoogleTest binary linked with pqw_e2e that
# builds the daemon and the tools first and finds them through PQW_BIN_DIR.
add_library(pqw_e2e STATIC ${CMAKE_CURRENT_LIST_DIR}/e2e_support.cc)
target_link_libraries(pqw_e2e PUBLIC pqw_core GTest::gtest)
target_compile_definitions(pqw_e2e PRIVATE PQW_DEFAULT_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")

function(pqw_add_e2e_test name)
  pqw_add_test(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE pqw_e2e)
  add_dependencies(${name} pelquarinthos-wired)
  foreach(tool pqw-hud pqw-camsim pqw-viewer)
    if(TARGET ${tool})
      add_dependencies(${name} ${tool})
    endif()
  endforeach()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "PQW_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}" LABELS e2e)
endfunction()
