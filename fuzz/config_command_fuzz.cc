// libFuzzer target: any text handed to the configuration command handler.
//
// Every shell command runs in a sandbox whose PATH holds only its own bin
// directory (so reboot, mount and killall do nothing; iwlist is a fake that
// prints a few names), every file path lives under a throw-away root, the
// one-second HDMI pause is skipped and the process-ending commands are caught.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/hud_block.h"
#include "config/config_command.h"
#include "config/config_file.h"
#include "core/config_fields.h"
#include "core/config_record.h"
#include "fuzz/fuzz_envelope.h"
#include "fuzz/fuzz_harness.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "viewer/viewer_send.h"

namespace {

TestSandbox* g_box;
uint8_t g_hud[kHudSize];

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
  std::vector<std::string> parts = fuzz_envelope_lines(in, sizeof kKeys / sizeof kKeys[0]);
  if (parts[0].size() == 1) parts[0] = kCmds[static_cast<uint8_t>(parts[0][0]) % 7];
  if (parts.size() > 1 && parts[1].size() == 1)
    parts[1] = kNames[static_cast<uint8_t>(parts[1][0]) % (sizeof kNames / sizeof kNames[0])];
  if (parts.size() > 2 && parts[0] == "wlan") parts[2] = "scan";
  return fuzz_envelope_json(parts, kKeys);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_box = fuzz_sandbox_start("fuzz-cfgcmd");
  viewer_set_tap([](int, const uint8_t*, size_t) {});
  hud_set_block(g_hud);
  // A scanning tool with a few awkward names, so the scan reply is built too.
  shell_set_runner([](const char* cmd, std::string* out) {
    if (out && strstr(cmd, "iwlist"))
      *out = "ESSID:\"Home\"\nESSID:\"\"\nESSID:\"a\"\\b\"\nESSID:x\n";
    return 0;
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  if (text.empty() || text[0] != '{') text = envelope(text.c_str());
  config_command_handle(text.c_str(), text.size());
  // Whatever a command stored, the file carries unchanged: nothing is saved
  // and then read back as something else.
  ConfigRecord* rec = config_record();
  for (size_t i = 0; i < kConfigTableSize; i++) {
    const ConfigField& f = kConfigTable[i];
    if (f.kind != ConfigKind::text && f.kind != ConfigKind::quoted && f.kind != ConfigKind::map)
      continue;
    char value[512];
    cfg_text_get(value, sizeof value, config_field_text(rec, f), f.slot.size);
    std::string why;
    if (!config_text_fits(f.key, value, &why)) abort();
  }
  // The command log would otherwise grow for the whole run.
  unlink((g_box->dir + "/commands.log").c_str());
  return 0;
}
