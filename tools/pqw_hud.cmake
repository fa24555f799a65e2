add_executable(pqw-hud ${CMAKE_CURRENT_LIST_DIR}/pqw_hud.cc)
target_link_libraries(pqw-hud PRIVATE pqw_core)
