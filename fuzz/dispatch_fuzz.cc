// libFuzzer target: any command text through the camera command dispatcher,
// through a command worker (configuration handler, then dispatcher, on its
// own thread) and through the HUD command mailbox.
//
// Every packet that reaches the link is checked: its length byte, its header
// CRC8 and its CRC16 must be right, or the camera would drop it. Shell
// commands run in a sandbox with an empty PATH, paths live under a
// throw-away root, pauses are skipped and process-ending commands caught.
#include <dirent.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/hud_block.h"
#include "control/camera_dispatch.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "viewer/command_worker.h"
#include "viewer/viewer_send.h"

namespace {

std::string g_dir;
uint8_t g_hud[kHudSize];

void remove_tree(const std::string& path) {
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      std::string p = path + "/" + n;
      struct stat st {};
      if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        remove_tree(p);
      else
        unlink(p.c_str());
    }
    closedir(d);
  }
  rmdir(path.c_str());
}

void cleanup() {
  if (!g_dir.empty()) remove_tree(g_dir);
}

int check_packet(const uint8_t* p, size_t n) {
  if (n < 13 || n > 255 || p[0] != 0x55 || p[1] != n || p[2] != 0x04) abort();
  if (link_crc8(p, 3) != p[3]) abort();
  if (link_crc16(p, n) != 0) abort();
  return static_cast<int>(n);
}

const char* const kWords[] = {"camera",
                              "horizont",
                              "exposure",
                              "focus",
                              "position",
                              "zoom",
                              "orientation",
                              "scenemode",
                              "pitch",
                              "color",
                              "scene",
                              "wb",
                              "shot",
                              "stopshot",
                              "shotmode",
                              "shottype",
                              "record",
                              "hystogram",
                              "video_mode",
                              "shutter",
                              "aperture",
                              "iso",
                              "ev",
                              "video_resolution",
                              "video_aspect",
                              "video_std",
                              "antiflicker",
                              "calibratefocus",
                              "formatmicrosd",
                              "formatssd",
                              "zoomadjustedsmoothtrack",
                              "time",
                              "resetcamera",
                              "power",
                              "playback"};
const char* const kKeys[] = {"cmd", "param", "value1", "value2"};

// Inputs that do not start with '{' are an envelope: cmd, param, value1 and
// value2 separated by line feeds; a one-byte cmd picks a word of the
// vocabulary, so the fuzzer reaches every table quickly.
std::string envelope(const std::string& in) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < 4) {
    size_t nl = in.find('\n', start);
    parts.push_back(in.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (parts[0].size() == 1) parts[0] = kWords[static_cast<uint8_t>(parts[0][0]) % 35];
  cJSON* o = cJSON_CreateObject();
  for (size_t i = 0; i < parts.size(); i++) cJSON_AddStringToObject(o, kKeys[i], parts[i].c_str());
  char* s = cJSON_PrintUnformatted(o);
  std::string out = s ? s : "";
  cJSON_free(s);
  cJSON_Delete(o);
  return out;
}

void ignore_exit(int) {}
void no_sleep(uint32_t) {}
void drop(int, const uint8_t*, size_t) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/pqw-fuzz-dispatch-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  g_dir = tmpl;
  mkdir((g_dir + "/bin").c_str(), 0755);
  mkdir((g_dir + "/boot").c_str(), 0755);
  mkdir((g_dir + "/run").c_str(), 0755);
  shell_set_sandbox(g_dir.c_str());
  paths_set_root(g_dir.c_str());
  app_exit_set_hook(ignore_exit);
  sleep_set_fn(no_sleep);
  viewer_set_tap(drop);
  hud_set_block(g_hud);
  link_set_writer(check_packet);
  atexit(cleanup);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.empty() || text[0] != '{') text = envelope(text);
  link_state().link_up.store(size & 1 ? 1 : 0);
  hud_set_u8(g_hud, HUD_PLAYBACK_STATE, static_cast<uint8_t>(size & 4));

  // Straight to the dispatcher, with the raw bytes (no NUL at the end).
  camera_command_dispatch(reinterpret_cast<const char*>(data), size);
  camera_command_dispatch(text.c_str(), text.size());

  // The worker path: its own copy, its own thread; wait until it is done.
  command_worker_start(text.c_str(), text.size());
  while (command_worker_stats().running != 0) sched_yield();

  // The mailbox path, with the text as another process would leave it.
  hud_fill(g_hud, HUD_MAILBOX, 0, 512);
  hud_write(g_hud, HUD_MAILBOX, text.data(), text.size() < 512 ? text.size() : 512);
  hud_command_poll_once();

  unlink((g_dir + "/commands.log").c_str());
  return 0;
}
