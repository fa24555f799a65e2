# pqw-camsim: the camera side of the simulated CAN bus (--sim, --can udp:...).
add_executable(pqw-camsim ${CMAKE_CURRENT_LIST_DIR}/pqw_camsim.cc
                          ${CMAKE_CURRENT_LIST_DIR}/camsim_model.cc
                          ${CMAKE_CURRENT_LIST_DIR}/camsim_bus.cc)
target_link_libraries(pqw-camsim PRIVATE pqw_core)

if(PQW_TESTS)
  pqw_add_test(camsim_model_test ${CMAKE_CURRENT_LIST_DIR}/camsim_model_test.cc
               ${CMAKE_CURRENT_LIST_DIR}/camsim_model.cc)
  pqw_add_test(camsim_bus_test ${CMAKE_CURRENT_LIST_DIR}/camsim_bus_test.cc
               ${CMAKE_CURRENT_LIST_DIR}/camsim_bus.cc)
endif()
