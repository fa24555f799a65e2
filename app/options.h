// The daemon's command line. On the Pi it runs without options; the options
// move its files, shared memory, shell, GPIO, buses and ports so that it can
// run anywhere (and several times side by side in tests).
#pragma once

#include <string>

struct AppOptions {
  bool help = false;
  bool sim = false;
  std::string sim_dir;
  std::string root;
  std::string shm_prefix;
  bool shm_prefix_set = false;
  std::string shell_sandbox;
  std::string gpio_log;
  int pwm_channel = -1;
  std::string can;
  std::string capture;    // --capture FILE, made absolute
  int capture_size = 16;  // --capture-size MB per file
  std::string replay;     // --replay FILE (with --sim), made absolute
  std::string i2c;
  std::string camera_ftp;
  int viewer_port = -1;
  int video_port = -1;
  int djigo_port = -1;
  std::string viewer_allow;  // --viewer-allow, else $PQW_VIEWER_ALLOW
  bool version = false;
};

// Accepts "--name value" and "--name=value". False with *error set on an
// unknown option, a missing value or a bad number.
bool options_parse(int argc, char** argv, AppOptions* out, std::string* error);
// Hands every option that was given to its subsystem's setter.
void options_apply(const AppOptions& opt);
const char* options_usage();
