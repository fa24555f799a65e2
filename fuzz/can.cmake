# fuzz_can: CAN frame streams through the reader's reassembly into the
# incoming packet handler.
pqw_add_fuzzer(can ${CMAKE_CURRENT_LIST_DIR}/can_fuzz.cc)
