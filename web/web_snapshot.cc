#include "web/web_snapshot.h"

#include <cjson/cJSON.h>

#include <cstring>

#include "control/camera_vocabulary.h"

namespace {

int num(const cJSON* o, const char* name) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, name);
  return cJSON_IsNumber(v) ? v->valueint : 0;
}
uint32_t unum(const cJSON* o, const char* name) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, name);
  return cJSON_IsNumber(v) && v->valuedouble >= 0 && v->valuedouble <= 4294967295.0
             ? static_cast<uint32_t>(v->valuedouble)
             : 0;
}

bool is_name(const cJSON* o, const char* name) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, "name");
  return cJSON_IsString(v) && strcmp(v->valuestring, name) == 0;
}

// A JSON text from the daemon: the configuration report is the one with
// "app"; replies to other commands are not part of the state.
bool json_text(WebSnapshot* s, const cJSON* j) {
  const cJSON* app = cJSON_GetObjectItemCaseSensitive(j, "app");
  if (!cJSON_IsString(app)) return false;
  char* text = cJSON_PrintUnformatted(j);
  if (!text) return false;
  if (s->settings != text) s->settings_version++;
  s->settings = text;
  cJSON_free(text);
  s->device_mode = num(j, "dmode");
  return true;
}

bool data_message(WebSnapshot* s, const cJSON* o, int64_t now_ms) {
  if (const cJSON* j = cJSON_GetObjectItemCaseSensitive(o, "json")) return json_text(s, j);
  if (is_name(o, "beacon")) {
    s->beacon_seen = true;
    s->beacon_flags = unum(cJSON_GetObjectItemCaseSensitive(o, "flags"), "value");
    s->viewers = num(o, "clients");
    s->rc_state = num(o, "rc_state");
    s->focus_assistant = num(o, "focus_assistant_enabled");
  } else if (is_name(o, "link_state")) {
    bool up = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(o, "connected"));
    int link = num(o, "link");
    if (link == 0) s->link_connected = up;
    if (link == 1) {
      s->video_seen = true;
      s->video_connected = up;
    }
  } else if (is_name(o, "telemetry")) {
    s->telemetry_seen = true;
    s->camera_seen_ms = now_ms;
    s->camera_mode = num(o, "camera_mode");
    s->recording = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(o, "recording"));
    // The telemetry record's own fields at offsets 20, 24 and 28.
    s->shots_left = unum(o, "u32_20");
    s->record_seconds = unum(o, "u32_24");
    s->record_left = unum(o, "u32_28");
  } else if (is_name(o, "camera_state")) {
    s->state_seen = true;
    s->camera_seen_ms = now_ms;
    s->iso_code = num(o, "b16");
    s->shutter_code = unum(o, "shutter_code");
    s->aperture_x100 = num(o, "aperture_x100");
    s->ev_tenths = num(o, "ev_tenths");
    s->wb_mode = num(o, "b34");
    s->wb_value = num(o, "b35");
    s->capture_mode = num(o, "capture_mode");
    s->capture_submode = num(o, "capture_submode");
  } else if (is_name(o, "gimbal_angles")) {
    s->gimbal_seen = true;
    s->pan_x100 = num(o, "pan_x100");
    s->tilt_x100 = num(o, "tilt_x100");
    s->dutch_x100 = num(o, "dutch_x100");
  } else if (is_name(o, "gimbal_state")) {
    s->gimbal_state = num(o, "gimbal_state");
  } else if (is_name(o, "digital_zoom")) {
    s->zoom_percent = num(o, "digital_zoom_percent");
  } else if (is_name(o, "focus")) {
    s->focus_seen = true;
    s->focus_flags = num(o, "focus_flags");
    s->focus_percent = num(o, "focus_percent");
  } else {
    return false;
  }
  return true;
}

void add_text_or_null(cJSON* o, const char* name, const std::string& text) {
  if (text.empty())
    cJSON_AddNullToObject(o, name);
  else
    cJSON_AddStringToObject(o, name, text.c_str());
}

const char* status_text(const WebSnapshot& s, bool reachable) {
  if (!reachable) return "daemon not reachable";
  if (!s.link_connected) return "camera not connected";
  return "connected";
}

}  // namespace

std::string web_iso_text(int code) {
  for (const CameraIsoValue& v : kCameraIsoValues) {
    if (v.code == code) return std::string(v.text);
  }
  return "";
}

std::string web_shutter_text(uint32_t code) {
  for (std::string_view t : kCameraShutterTexts) {
    if (camera_shutter_code_of(t) == code) return std::string(t);
  }
  return "";
}

std::string web_wb_text(int mode, int value, int* kelvin) {
  *kelvin = 0;
  if (mode == kCameraWbCustomMode) {
    *kelvin = kCameraWbCustomMin + (value - 20) * kCameraWbCustomStep;
    return "custom";
  }
  for (const CameraWbPreset& w : kCameraWbPresets) {
    if (w.mode == mode) return std::string(w.name);
  }
  return "";
}

bool web_snapshot_apply(WebSnapshot* s, const std::string& decoded, int64_t now_ms) {
  cJSON* o = cJSON_Parse(decoded.c_str());
  if (!cJSON_IsObject(o)) {
    cJSON_Delete(o);
    return false;
  }
  s->last_datagram_ms = now_ms;
  bool used = false;
  const cJSON* reply = cJSON_GetObjectItemCaseSensitive(o, "reply");
  const cJSON* channel = cJSON_GetObjectItemCaseSensitive(o, "channel");
  if (cJSON_IsString(reply)) {
    s->registered = true;
    used = true;
  } else if (cJSON_IsString(channel) && strcmp(channel->valuestring, "data") == 0) {
    used = data_message(s, o, now_ms);
  }
  cJSON_Delete(o);
  return used;
}

bool web_snapshot_same(WebSnapshot* before, const WebSnapshot& now) {
  before->last_datagram_ms = now.last_datagram_ms;
  before->camera_seen_ms = now.camera_seen_ms;
  return *before == now;
}

bool web_snapshot_reachable(const WebSnapshot& s, int64_t now_ms) {
  return s.last_datagram_ms >= 0 && now_ms - s.last_datagram_ms <= kWebDaemonSilenceMs;
}

std::string web_snapshot_json(const WebSnapshot& s, int64_t now_ms) {
  bool reachable = web_snapshot_reachable(s, now_ms);
  // What the daemon said last is only believed while it is still talking.
  bool link_up = reachable && s.link_connected;
  cJSON* root = cJSON_CreateObject();

  cJSON* daemon = cJSON_AddObjectToObject(root, "daemon");
  cJSON_AddBoolToObject(daemon, "reachable", reachable);
  cJSON_AddBoolToObject(daemon, "registered", reachable && s.registered);

  cJSON* link = cJSON_AddObjectToObject(root, "link");
  cJSON_AddBoolToObject(link, "connected", link_up);
  cJSON_AddBoolToObject(link, "camera_data", reachable && (s.beacon_flags >> 4 & 1));
  // null: the daemon has not said (or is gone), so the page shows nothing.
  if (reachable && s.video_seen)
    cJSON_AddBoolToObject(link, "video", s.video_connected);
  else
    cJSON_AddNullToObject(link, "video");
  cJSON_AddStringToObject(link, "status", status_text(s, reachable));
  if (s.device_mode == 0 || s.device_mode == 1)
    cJSON_AddStringToObject(link, "device_mode", s.device_mode == 0 ? "osmo" : "inspire");
  else
    cJSON_AddNullToObject(link, "device_mode");

  cJSON* cam = cJSON_AddObjectToObject(root, "camera");
  cJSON_AddBoolToObject(cam, "known", link_up && s.telemetry_seen);
  // How old the values below are: 0 while the link is up, whole seconds
  // since the camera last reported otherwise, null when it never has.
  if (s.camera_seen_ms < 0)
    cJSON_AddNullToObject(cam, "age_s");
  else
    cJSON_AddNumberToObject(cam, "age_s",
                            link_up ? 0 : static_cast<double>((now_ms - s.camera_seen_ms) / 1000));
  cJSON_AddBoolToObject(cam, "recording", link_up && s.recording);
  cJSON_AddStringToObject(cam, "mode", s.camera_mode == 1 ? "video" : "photo");
  cJSON_AddNumberToObject(cam, "record_seconds", s.recording ? s.record_seconds : 0);
  cJSON_AddNumberToObject(cam, "shots_left", s.shots_left);
  cJSON_AddNumberToObject(cam, "record_left", s.record_left);
  if (s.state_seen) {
    add_text_or_null(cam, "iso", web_iso_text(s.iso_code));
    add_text_or_null(cam, "shutter", web_shutter_text(s.shutter_code));
    cJSON_AddNumberToObject(cam, "aperture", s.aperture_x100 / 100.0);
    cJSON_AddNumberToObject(cam, "ev", s.ev_tenths / 10.0);
    int kelvin = 0;
    add_text_or_null(cam, "wb", web_wb_text(s.wb_mode, s.wb_value, &kelvin));
    if (kelvin)
      cJSON_AddNumberToObject(cam, "wb_kelvin", kelvin);
    else
      cJSON_AddNullToObject(cam, "wb_kelvin");
    cJSON_AddNumberToObject(cam, "capture_mode", s.capture_mode);
    cJSON_AddNumberToObject(cam, "capture_submode", s.capture_submode);
  } else {
    cJSON_AddNullToObject(cam, "capture_mode");
    cJSON_AddNullToObject(cam, "capture_submode");
    for (const char* n : {"iso", "shutter", "aperture", "ev", "wb", "wb_kelvin"})
      cJSON_AddNullToObject(cam, n);
  }
  add_text_or_null(cam, "exposure", s.exposure);
  // false: this process may not read the daemon's block (the page hides the
  // tile); null file: no file on the card, or none reported yet.
  cJSON_AddBoolToObject(cam, "files_readable", s.files_readable);
  add_text_or_null(cam, "newest_file", s.newest_file);

  cJSON* gimbal = cJSON_AddObjectToObject(root, "gimbal");
  cJSON_AddBoolToObject(gimbal, "known", s.gimbal_seen);
  cJSON_AddNumberToObject(gimbal, "pan", s.pan_x100 / 100.0);
  cJSON_AddNumberToObject(gimbal, "tilt", s.tilt_x100 / 100.0);
  cJSON_AddNumberToObject(gimbal, "dutch", s.dutch_x100 / 100.0);
  cJSON_AddBoolToObject(gimbal, "locked", s.gimbal_state == 1);

  cJSON_AddNumberToObject(root, "zoom", s.zoom_percent);
  cJSON* focus = cJSON_AddObjectToObject(root, "focus");
  cJSON_AddBoolToObject(focus, "known", s.focus_seen);
  cJSON_AddNumberToObject(focus, "percent", s.focus_percent);
  cJSON_AddBoolToObject(focus, "manual_available", (s.focus_flags & 2) != 0);
  cJSON_AddBoolToObject(focus, "assistant", s.focus_assistant != 0);

  cJSON_AddNumberToObject(root, "viewers", reachable ? s.viewers : 0);
  cJSON_AddNumberToObject(root, "rc_state", s.rc_state);
  cJSON_AddBoolToObject(root, "access_point", (s.beacon_flags >> 1 & 1) != 0);
  cJSON_AddBoolToObject(root, "hdmi", (s.beacon_flags >> 2 & 1) != 0);
  cJSON_AddNumberToObject(root, "settings_version", s.settings_version);
  cJSON* health = s.health.empty() ? nullptr : cJSON_Parse(s.health.c_str());
  if (health)
    cJSON_AddItemToObject(root, "health", health);
  else
    cJSON_AddNullToObject(root, "health");

  cJSON* video = s.video.empty() ? nullptr : cJSON_Parse(s.video.c_str());
  if (video)
    cJSON_AddItemToObject(root, "video", video);
  else
    cJSON_AddNullToObject(root, "video");

  char* text = cJSON_PrintUnformatted(root);
  std::string out = text ? text : "{}";
  cJSON_free(text);
  cJSON_Delete(root);
  return out;
}
