# Video relay benchmark (run by hand: bench/video_relay/run.sh): the daemon's
# video bridge against a minimal relay in two forms.
add_executable(pqw-bench-relay-baseline ${CMAKE_CURRENT_LIST_DIR}/video_relay/baseline_relay.cc)
target_link_libraries(pqw-bench-relay-baseline PRIVATE pqw_platform)
add_executable(pqw-bench-video-relay ${CMAKE_CURRENT_LIST_DIR}/video_relay/video_relay_bench.cc)
target_link_libraries(pqw-bench-video-relay PRIVATE pqw_platform Threads::Threads)
