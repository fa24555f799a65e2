# pqw_add_e2e_test(name src...): a GoogleTest binary (testing/e2e_support.h)
# that builds the daemon and the tools first and finds them through
# PQW_BIN_DIR.
function(pqw_add_e2e_test name)
  pqw_add_test(${name} ${ARGN})
  add_dependencies(${name} pelquarinthos-wired)
  foreach(tool pqw-hud pqw-camsim pqw-viewer)
    if(TARGET ${tool})
      add_dependencies(${name} ${tool})
    endif()
  endforeach()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "PQW_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}" LABELS e2e)
endfunction()
