# command_latency: viewer JSON command to the first CAN frame on the simulated
# bus, through the real daemon; run by hand (bin/command_latency).
add_executable(command_latency ${CMAKE_CURRENT_LIST_DIR}/command_latency.cc)
target_link_libraries(command_latency PRIVATE pqw_app)
if(TARGET pelquarinthos-wired)
  add_dependencies(command_latency pelquarinthos-wired)
endif()
