# can_path: frames per second through the CAN reader's reassembly and the
# packet handler, and the latency from a packet's last frame to its viewer
# message; run by hand (bin/can_path).
add_executable(can_path ${CMAKE_CURRENT_LIST_DIR}/can_path.cc)
target_link_libraries(can_path PRIVATE pqw_sim)
target_link_libraries(can_path PRIVATE pqw_app)
