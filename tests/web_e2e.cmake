# pqw-web against the real daemon in --sim and the camera simulator.
if(COMMAND pqw_add_e2e_test AND TARGET pqw-web)
  pqw_add_e2e_test(web_e2e_test ${CMAKE_CURRENT_LIST_DIR}/web_e2e_test.cc)
  add_dependencies(web_e2e_test pqw-web)

  # The page in headless Chromium at phone size (skipped, exit 77, without
  # it). Debian's own python3: one earlier on the PATH may not see
  # python3-selenium.
  add_test(NAME web_browser_test COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/web_browser_test.py)
  set_tests_properties(web_browser_test PROPERTIES
    ENVIRONMENT "PQW_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};PQW_SHOT_DIR=${CMAKE_BINARY_DIR}/web-shots" LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 180)

  # The live picture through the daemon in the same browser, from an ffmpeg
  # test stream (skipped, exit 77, without ffmpeg or the browser); the test
  # stream and screenshots stay in the build folder.
  add_test(NAME web_video_browser_test COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/web_video_browser_test.py)
  set_tests_properties(web_video_browser_test PROPERTIES
    ENVIRONMENT "PQW_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY};PQW_OUT_DIR=${CMAKE_BINARY_DIR}"
    LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
