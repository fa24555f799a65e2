# fuzz_video: the video relay's receive rule (source, cut, size) and the
# fan-out to registered viewers.
pqw_add_fuzzer(video ${CMAKE_CURRENT_LIST_DIR}/video_fuzz.cc)
