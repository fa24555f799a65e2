# pqw_sim: the camera side of the bus, used only by the simulator, the tests
# (through pqw_testing) and the benchmarks; never linked into the daemon.
add_library(pqw_sim STATIC ${CMAKE_CURRENT_LIST_DIR}/camera_records.cc
                           ${CMAKE_CURRENT_LIST_DIR}/camsim_model.cc
                           ${CMAKE_CURRENT_LIST_DIR}/camsim_bus.cc
                           ${CMAKE_CURRENT_LIST_DIR}/packet_build.cc)
target_link_libraries(pqw_sim PUBLIC pqw_link)

# pqw-camsim: the camera side of the simulated CAN bus (--sim, --can udp:...)
# or of a SocketCAN interface (--bus can:IFACE).
add_executable(pqw-camsim ${CMAKE_CURRENT_LIST_DIR}/pqw_camsim.cc)
target_link_libraries(pqw-camsim PRIVATE pqw_sim pqw_capture)

if(PQW_TESTS)
  pqw_add_test(camsim_model_test ${CMAKE_CURRENT_LIST_DIR}/camsim_model_test.cc)
  target_link_libraries(camsim_model_test PRIVATE pqw_sim)
  pqw_add_test(camsim_bus_test ${CMAKE_CURRENT_LIST_DIR}/camsim_bus_test.cc)
  target_link_libraries(camsim_bus_test PRIVATE pqw_sim)
  pqw_add_test(packet_build_test ${CMAKE_CURRENT_LIST_DIR}/packet_build_test.cc)
endif()
