// libFuzzer target: any command text through the camera command dispatcher,
// through a command worker (configuration handler, then dispatcher, run on
// the fuzzer's thread) and through the HUD command mailbox.
//
// Every packet that reaches the link is checked: its length byte, its header
// CRC8 and its CRC16 must be right, or the camera would drop it. Shell
// commands run in a sandbox with an empty PATH, paths live under a
// throw-away root, pauses are skipped and process-ending commands caught.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/hud_block.h"
#include "control/camera_dispatch.h"
#include "fuzz/fuzz_envelope.h"
#include "fuzz/fuzz_harness.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "viewer/command_worker.h"
#include "viewer/viewer_send.h"

namespace {

TestSandbox* g_box;
uint8_t g_hud[kHudSize];

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
  std::vector<std::string> parts = fuzz_envelope_lines(in, 4);
  if (parts[0].size() == 1) parts[0] = kWords[static_cast<uint8_t>(parts[0][0]) % 35];
  return fuzz_envelope_json(parts, kKeys);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_box = fuzz_sandbox_start("fuzz-dispatch");
  viewer_set_tap([](int, const uint8_t*, size_t) {});
  hud_set_block(g_hud);
  link_set_writer(fuzz_check_packet);
  // The worker runs on the calling thread: a thread per input would cost
  // far more than the work it does.
  command_worker_set_thread_create([](pthread_t*, void* (*body)(void*), void* arg) {
    body(arg);
    return 0;
  });
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

  // The worker path: its own copy, run to its end.
  command_worker_start(text.c_str(), text.size());

  // The mailbox path, with the text as another process would leave it.
  hud_fill(g_hud, HUD_MAILBOX, 0, 512);
  hud_write(g_hud, HUD_MAILBOX, text.data(), text.size() < 512 ? text.size() : 512);
  hud_command_poll_once();

  unlink((g_box->dir + "/commands.log").c_str());
  return 0;
}
