# fuzz_camsim_control: pqw-camsim's control commands.
pqw_add_fuzzer(camsim_control ${CMAKE_CURRENT_LIST_DIR}/camsim_control_fuzz.cc)
