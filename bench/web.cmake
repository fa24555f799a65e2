# Web console benchmark (run by hand: bench/web/run.sh): pqw-web's CPU with
# three event streams, camera change -> event latency, and the video relay
# with and without the console.
add_executable(pqw-bench-web ${CMAKE_CURRENT_LIST_DIR}/web/web_bench.cc)
target_link_libraries(pqw-bench-web PRIVATE pqw_platform Threads::Threads)
