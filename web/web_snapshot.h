// What pqw-web knows about the rig: the daemon's viewer messages, decoded by
// viewer_decode_json, folded into one record, and the JSON snapshot the page
// and /api/status show.
//
//   WebSnapshot s;
//   web_snapshot_apply(&s, "{\"channel\":\"data\",...,\"name\":\"beacon\",...}", now);
//   std::string json = web_snapshot_json(s, now);
//     {"daemon":{"reachable":true,...},"link":{"connected":true,...},
//      "camera":{"recording":false,"mode":"video","iso":"100",...},"viewers":1,...}
#pragma once

#include <cstdint>
#include <string>

// Without a datagram from the daemon for this long it counts as gone: its
// beacon comes about every 800 ms and its link states every second.
inline constexpr int64_t kWebDaemonSilenceMs = 3000;

struct WebSnapshot {
  int64_t last_datagram_ms = -1;  // anything from the daemon
  bool registered = false;        // the daemon answered our registration

  bool beacon_seen = false;
  uint32_t beacon_flags = 0;
  int viewers = 0;
  int rc_state = 0;
  int focus_assistant = 0;

  bool link_connected = false;
  bool video_seen = false;  // the daemon has said whether video arrives
  bool video_connected = false;
  // When the camera last reported (telemetry or its state): the page shows
  // how old the values are once the link or the daemon is gone. Not part of
  // what counts as a change (see web_snapshot_same).
  int64_t camera_seen_ms = -1;

  bool telemetry_seen = false;
  int camera_mode = 0;  // 0 photo, 1 video
  bool recording = false;
  uint32_t shots_left = 0;
  uint32_t record_seconds = 0;
  uint32_t record_left = 0;

  bool state_seen = false;
  int iso_code = 0;
  uint32_t shutter_code = 0;
  int aperture_x100 = 0;
  int ev_tenths = 0;
  int wb_mode = 0;
  int wb_value = 0;
  int capture_mode = 0;
  int capture_submode = 0;

  bool gimbal_seen = false;
  int pan_x100 = 0, tilt_x100 = 0, dutch_x100 = 0;
  int gimbal_state = 0;
  int zoom_percent = 0;
  bool focus_seen = false;
  int focus_flags = 0, focus_percent = 0;

  // From the configuration report: device mode (0 Osmo, 1 Inspire), -1 unknown.
  int device_mode = -1;
  uint32_t settings_version = 0;  // bumps with every configuration report
  std::string settings;           // the latest report as the daemon sent it
  std::string health;             // a JSON object from the health file, or ""
  // The exposure program last set through this console: the camera does not
  // report it. Cleared when the daemon goes (the camera may have changed).
  std::string exposure;
  // The newest file on the card, from the daemon's HudBlock when this
  // process may read it (files_readable); "" when there is none.
  bool files_readable = false;
  std::string newest_file;
  std::string video;  // a JSON object: the live video's state, or ""

  bool operator==(const WebSnapshot&) const = default;
};

// Equal in everything the snapshot JSON shows while the link is up: *before
// takes now's times of the last datagram and camera report, then the two are
// compared (no copy: this runs for every batch of datagrams).
bool web_snapshot_same(WebSnapshot* before, const WebSnapshot& now);

// Is the daemon still talking at now_ms.
bool web_snapshot_reachable(const WebSnapshot& s, int64_t now_ms);

// One decoded viewer message (a line of viewer_decode_json). Returns true
// when it was one pqw-web reads.
bool web_snapshot_apply(WebSnapshot* s, const std::string& decoded, int64_t now_ms);

// The snapshot as one JSON line; what depends on time (is the daemon still
// there, how old the camera's values are, in whole seconds) is judged at
// now_ms.
std::string web_snapshot_json(const WebSnapshot& s, int64_t now_ms);

// Names of the camera's codes in the words of the command vocabulary: ISO
// code 5 -> "400", shutter code 0x8064 -> "100", white balance 0/0x44 ->
// "auto", 6/0x26 -> "custom" (the colour temperature in *kelvin). Empty for a
// code the vocabulary has no word for.
std::string web_iso_text(int code);
std::string web_shutter_text(uint32_t code);
std::string web_wb_text(int mode, int value, int* kelvin);
