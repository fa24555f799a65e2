# pqw-decode: captures of the camera bus (candump -l, pcap, pcapng) as
# camera-link packets; the readers are shared with pqw-camsim --replay.
pkg_check_modules(PCAP REQUIRED IMPORTED_TARGET libpcap)
add_library(pqw_capture STATIC ${CMAKE_CURRENT_LIST_DIR}/capture_read.cc
                               ${CMAKE_CURRENT_LIST_DIR}/capture_decode.cc)
target_link_libraries(pqw_capture PUBLIC pqw_link PkgConfig::PCAP)

add_executable(pqw-decode ${CMAKE_CURRENT_LIST_DIR}/pqw_decode.cc)
target_link_libraries(pqw-decode PRIVATE pqw_capture)

if(PQW_TESTS)
  pqw_add_test(capture_read_test ${CMAKE_CURRENT_LIST_DIR}/capture_read_test.cc)
  target_link_libraries(capture_read_test PRIVATE pqw_capture)
endif()
