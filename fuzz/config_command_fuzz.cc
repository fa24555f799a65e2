// libFuzzer target: any text handed to the configuration command handler.
//
// Every shell command runs in a sandbox whose PATH holds only its own bin
// directory (so reboot, mount and killall do nothing; iwlist is a fake that
// prints a few names), every file path lives under a throw-away root, the
// one-second HDMI pause is skipped and the process-ending commands are caught.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/hud_block.h"
#include "config/config_command.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
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

const char* const kCmds[] = {"configrequest", "wlan", "reboot",     "restart",
                             "shutdown",      "rc",   "updateparam"};
const char* const kNames[] = {"rcin_enabled",
                              "rcin_mode",
                              "rcin_map",
                              "rcin_speed",
                              "rcin_pan",
                              "rcin_tilt",
                              "rcin_dutch",
                              "rcin_pan_inv",
                              "rcin_tilt_inv",
                              "rcin_dutch_inv",
                              "rcin_exp",
                              "rcin_abs",
                              "hud_enabled",
                              "internal_camera_enabled",
                              "internal_camera_fullscreen",
                              "fa_enabled",
                              "osd_enabled",
                              "hdmi_enabled",
                              "disable_video_stream",
                              "video_hflip",
                              "video_vflip",
                              "video_fix",
                              "hdmimode",
                              "osd_borders",
                              "osd_offset",
                              "osd_top_offset",
                              "osd_bottom_offset",
                              "wifi",
                              "camtype",
                              "device_mode",
                              "coop_mode",
                              "ctrl_enabled",
                              "recalibrate",
                              "showchannels"};
const char* const kKeys[] = {"cmd",    "name",   "param",   "value",   "value2",
                             "value3", "value4", "value5",  "value6",  "value7",
                             "value8", "value9", "value10", "value11", "value12"};

// Inputs that do not start with '{' are an envelope: members separated by
// line feeds, in the order of kKeys; a one-byte "cmd" or "name" picks a word
// of the vocabulary, so the fuzzer reaches every setting quickly.
std::string envelope(const std::string& in) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < sizeof kKeys / sizeof kKeys[0]) {
    size_t nl = in.find('\n', start);
    parts.push_back(in.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (parts[0].size() == 1) parts[0] = kCmds[static_cast<uint8_t>(parts[0][0]) % 7];
  if (parts.size() > 1 && parts[1].size() == 1)
    parts[1] = kNames[static_cast<uint8_t>(parts[1][0]) % (sizeof kNames / sizeof kNames[0])];
  if (parts.size() > 2 && parts[0] == "wlan") parts[2] = "scan";
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
  char tmpl[] = "/tmp/pqw-fuzz-cfgcmd-XXXXXX";
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
  // A scanning tool with a few awkward names, so the scan reply is built too.
  std::string iwlist = g_dir + "/bin/iwlist";
  std::ofstream(iwlist) << "#!/bin/sh\nprintf '%s\\n' 'ESSID:\"Home\"' 'ESSID:\"\"' "
                           "'ESSID:\"a\"\\b\"' 'ESSID:x'\n";
  chmod(iwlist.c_str(), 0755);
  atexit(cleanup);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  if (text.empty() || text[0] != '{') text = envelope(text.c_str());
  config_command_handle(text.c_str(), text.size());
  // The command log would otherwise grow for the whole run.
  unlink((g_dir + "/commands.log").c_str());
  return 0;
}
