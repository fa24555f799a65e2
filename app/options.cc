#include "app/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "core/config_record.h"
#include "control/i2c_input.h"
#include "link/can_capture.h"
#include "link/can_transport.h"
#include "periph/media_listing.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "platform/shell.h"
#include "platform/wiringpi.h"
#include "viewer/viewer_allow.h"

namespace {

bool parse_int(const std::string& text, int lo, int hi, int* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (*end != 0 || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

const char* options_usage() {
  return "usage: pelquarinthos-wired [options]\n"
         "Without options the daemon runs as on the Pi: /boot, /run and /sys as they are,\n"
         "shared memory /hud_mem and /config_mem, the system shell, can0, /dev/i2c-1, GPIO.\n"
         "\n"
         "  --sim                 self-contained run: a fresh directory with a fake root, a\n"
         "                        shell sandbox, a GPIO log, a configuration with control\n"
         "                        enabled, CAN and I2C over loopback UDP and pqw-camsim (when\n"
         "                        it sits beside the daemon); prints where everything is\n"
         "  --replay FILE         with --sim: the camera simulator plays the camera side of\n"
         "                        a capture (candump -l log or pcap) instead of its own\n"
         "  --sim-dir DIR         directory for --sim (default: a new one under $TMPDIR or /tmp)\n"
         "  --root DIR            /boot, /run and /sys paths (shell commands included) under DIR\n"
         "  --shm-prefix P        shared memory \"/\"P\"hud_mem\" and \"/\"P\"config_mem\"\n"
         "  --shell-sandbox DIR   log shell commands to DIR/commands.log, run them with\n"
         "                        PATH=DIR/bin only\n"
         "  --gpio-log FILE       record GPIO calls in FILE instead of driving the pins\n"
         "  --pwm-channel N       pwmchip0 channel for the shield servo pin (default 0)\n"
         "  --can BUS             can0 (default) or udp:LOCALPORT:HOST:PORT\n"
         "  --capture FILE        write every CAN frame read and written to FILE as pcap\n"
         "                        (SocketCAN link type; pqw-decode, Wireshark); FILE is\n"
         "                        rotated to FILE.1 .. FILE.3 at --capture-size\n"
         "  --capture-size MB     size cap of each capture file (default 16)\n"
         "  --i2c DEV             /dev/i2c-1 (default) or udp:PORT\n"
         "  --camera-ftp URL      base address of the camera's card listing\n"
         "  --viewer-port N       viewer UDP port (default 4242)\n"
         "  --video-port N        video UDP port (default 5000)\n"
         "  --djigo-port N        DJI Go bridge TCP port (default 6789)\n"
         "  --viewer-allow CIDR[,CIDR...]\n"
         "                        hear viewers and DJI Go clients only from these IPv4\n"
         "                        networks (default: everyone; also $PQW_VIEWER_ALLOW)\n"
         "  --version             the version\n"
         "  --help                this text\n";
}

bool options_parse(int argc, char** argv, AppOptions* out, std::string* error) {
  AppOptions o;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    std::string name = arg;
    std::string value;
    bool has_value = false;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--sim") {
      o.sim = true;
      continue;
    }
    if (name == "--version") {
      o.version = true;
      continue;
    }
    struct Text {
      const char* name;
      std::string* field;
    } texts[] = {{"--sim-dir", &o.sim_dir},
                 {"--root", &o.root},
                 {"--shm-prefix", &o.shm_prefix},
                 {"--shell-sandbox", &o.shell_sandbox},
                 {"--gpio-log", &o.gpio_log},
                 {"--can", &o.can},
                 {"--capture", &o.capture},
                 {"--replay", &o.replay},
                 {"--i2c", &o.i2c},
                 {"--camera-ftp", &o.camera_ftp},
                 {"--viewer-allow", &o.viewer_allow}};
    struct Number {
      const char* name;
      int* field;
      int lo, hi;
    } numbers[] = {{"--viewer-port", &o.viewer_port, 0, 65535},
                   {"--video-port", &o.video_port, 0, 65535},
                   {"--djigo-port", &o.djigo_port, 0, 65535},
                   {"--pwm-channel", &o.pwm_channel, 0, 63},
                   {"--capture-size", &o.capture_size, 1, 4096}};
    std::string* text = nullptr;
    Number* number = nullptr;
    for (Text& t : texts)
      if (name == t.name) text = t.field;
    for (Number& n : numbers)
      if (name == n.name) number = &n;
    if (!text && !number) {
      *error = "unknown option " + arg;
      return false;
    }
    if (!has_value) {
      if (i + 1 >= argc) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (text) {
      *text = value;
      if (name == "--shm-prefix") o.shm_prefix_set = true;
    } else if (!parse_int(value, number->lo, number->hi, number->field)) {
      *error = "bad number for " + name + ": " + value;
      return false;
    }
  }
  // The service's environment file sets it for the installed daemon.
  if (o.viewer_allow.empty()) {
    const char* env = getenv("PQW_VIEWER_ALLOW");
    if (env) o.viewer_allow = env;
  }
  if (!o.replay.empty() && !o.sim) {
    *error = "--replay needs --sim";
    return false;
  }
  // The daemon changes its working directory (--sim): relative paths are
  // taken from where it was started.
  for (std::string* path : {&o.capture, &o.replay}) {
    if (path->empty() || (*path)[0] == '/') continue;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) *path = std::string(cwd) + "/" + *path;
  }
  std::vector<ViewerAllowNet> nets;
  std::string bad;
  if (!viewer_allow_parse(o.viewer_allow.c_str(), &nets, &bad)) {
    *error = "--viewer-allow: " + bad;
    return false;
  }
  *out = o;
  return true;
}

void options_apply(const AppOptions& o) {
  if (!o.root.empty()) paths_set_root(o.root.c_str());
  if (o.shm_prefix_set) config_shm_set_prefix(o.shm_prefix.c_str());
  if (!o.shell_sandbox.empty()) shell_set_sandbox(o.shell_sandbox.c_str());
  if (!o.gpio_log.empty()) gpio_set_log(o.gpio_log.c_str());
  if (o.pwm_channel >= 0) gpio_set_pwm_fallback(o.pwm_channel);
  if (!o.can.empty()) can_set_spec(o.can.c_str());
  if (!o.capture.empty())
    can_capture_set(o.capture.c_str(), static_cast<uint64_t>(o.capture_size) << 20);
  if (!o.i2c.empty()) i2c_set_spec(o.i2c.c_str());
  if (!o.camera_ftp.empty()) media_listing_set_base(o.camera_ftp.c_str());
  if (o.viewer_port >= 0) net_ports().viewer = static_cast<uint16_t>(o.viewer_port);
  if (o.video_port >= 0) net_ports().video = static_cast<uint16_t>(o.video_port);
  if (o.djigo_port >= 0) net_ports().djigo = static_cast<uint16_t>(o.djigo_port);
  std::vector<ViewerAllowNet> nets;
  std::string unused;
  if (viewer_allow_parse(o.viewer_allow.c_str(), &nets, &unused) && !nets.empty()) {
    viewer_allow_set(nets);
    fprintf(stderr, "viewers and DJI Go clients heard only from %s\n", o.viewer_allow.c_str());
  }
}
