# fuzz_web_video: pqw-web's reading of the daemon's video datagrams (byte
# stream and RTP recognition, framing, SPS) and the remux of what it accepts.
if(COMMAND pqw_add_fuzzer AND TARGET pqw_web)
  pqw_add_fuzzer(web_video ${CMAKE_CURRENT_LIST_DIR}/web_video_fuzz.cc)
  target_link_libraries(fuzz_web_video PRIVATE pqw_web)
endif()
