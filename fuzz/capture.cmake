# fuzz_capture: field captures (candump -l logs, pcap, pcapng) through the
# readers and the decoder of pqw-decode and pqw-camsim --replay.
pqw_add_fuzzer(capture ${CMAKE_CURRENT_LIST_DIR}/capture_fuzz.cc)
target_link_libraries(fuzz_capture PRIVATE pqw_capture)
