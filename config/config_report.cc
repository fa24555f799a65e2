#include "config/config_report.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/config_record.h"
#include "config/json_text.h"

namespace {

std::atomic<IfaceQuery> g_query{nullptr};
std::atomic<IfaceRelease> g_release{nullptr};

void add_number(std::string& out, const char* key, long long v) {
  char num[32];
  snprintf(num, sizeof num, "%lld", v);
  out += '"';
  out += key;
  out += "\":";
  out += num;
  out += ',';
}

void add_text(std::string& out, const char* key, const char* text) {
  out += '"';
  out += key;
  out += "\":\"";
  json_escape_append(out, text);
  out += "\",";
}

// Copies a text field out of the shared record (a worker may be rewriting it).
template <size_t N>
std::string field_text(const char (&field)[N]) {
  char buf[N];
  cfg_text_get(buf, sizeof buf, field, N);
  return buf;
}

}  // namespace

void iface_set_query(IfaceQuery query, IfaceRelease release) {
  g_query.store(query);
  g_release.store(release);
}

int iface_code(const char* name) {
  if (strcmp(name, "wlan0") == 0) return 2;
  if (strcmp(name, "wifi0") == 0) return 1;
  return 0;
}

std::string iface_list(size_t max_len) {
  IfaceQuery query = g_query.load();
  IfaceRelease release = g_release.load();
  if (!query) query = getifaddrs;
  if (!release) release = freeifaddrs;

  std::string out;
  ifaddrs* list = nullptr;
  if (query(&list) != 0) return out;
  bool full = false;
  for (ifaddrs* ifa = list; ifa && !full; ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
    char host[1025];
    if (getnameinfo(ifa->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0)
      continue;
    const char* name = ifa->ifa_name ? ifa->ifa_name : "";
    if (strcmp(name, "lo") == 0) continue;
    std::string entry = out.empty() ? "{\"name\":\"" : ",{\"name\":\"";
    json_escape_append(entry, name);
    entry += "\",\"addr\":\"";
    json_escape_append(entry, host);
    entry += "\"}";
    // Whole objects only: a cut object would leave the report unparsable.
    if (out.size() + entry.size() > max_len) {
      full = true;
      continue;
    }
    out += entry;
  }
  release(list);
  return out;
}

std::string config_report_build() {
  const ConfigRecord* c = config_record();
  std::string out;
  out.reserve(2048);
  out += "{\"app\":\"wired\",";
  add_number(out, "camtype", cfg_get(c->camera_type));
  add_number(out, "dmode", cfg_get(c->device_mode));
  add_number(out, "cmode", cfg_get(c->cooperative_mode));
  add_number(out, "ctrl_en", cfg_get(c->control_enabled));
  add_number(out, "rcin_en", cfg_get(c->rc_input_enabled));
  add_text(out, "rcin_mode", field_text(c->rc_input_mode).c_str());
  add_text(out, "rcin2_mode", field_text(c->rc2_input_mode).c_str());
  add_text(out, "rcin_map", field_text(c->rc_input_map).c_str());
  add_number(out, "rcin_pan", cfg_get(c->rc_input_speed_pan));
  add_number(out, "rcin_tilt", cfg_get(c->rc_input_speed_tilt));
  add_number(out, "rcin_dutch", cfg_get(c->rc_input_speed_dutch));
  add_number(out, "rcin_paninv", cfg_get(c->rc_input_inverse_pan));
  add_number(out, "rcin_tiltinv", cfg_get(c->rc_input_inverse_tilt));
  add_number(out, "rcin_dutchinv", cfg_get(c->rc_input_inverse_dutch));
  add_number(out, "rcin_exp", cfg_get(c->rc_input_exp));
  add_number(out, "rcin_abs", cfg_get(c->rc_input_abs));
  add_number(out, "v_dis", cfg_get(c->disable_video_stream));
  add_number(out, "v_hf", cfg_get(c->video_hflip));
  add_number(out, "v_vf", cfg_get(c->video_vflip));
  add_number(out, "v_f", cfg_get(c->video_fix));
  add_number(out, "hdmistate", cfg_get(c->hdmi_enabled));
  add_number(out, "osdbrdw", cfg_get(c->osd_border_width));
  add_number(out, "osdbrdh", cfg_get(c->osd_border_height));
  add_number(out, "osdtof", cfg_get(c->osd_top_offset));
  add_number(out, "osdbof", cfg_get(c->osd_bottom_offset));
  add_number(out, "osd_en", cfg_get(c->osd_enabled));
  add_number(out, "hud_en", cfg_get(c->hud_enabled));
  add_number(out, "ic_en", cfg_get(c->internal_camera_enabled));
  add_number(out, "ic_fs", cfg_get(c->internal_camera_fullscreen));
  add_number(out, "fa_en", cfg_get(c->focus_assistant_enabled));
  int ap_code = iface_code(field_text(c->ap_iface).c_str());
  int lan_code = iface_code(field_text(c->wifi_iface).c_str());
  add_number(out, "apstate", cfg_get(c->apstate));
  add_text(out, "ap_iface", std::to_string(ap_code).c_str());
  add_text(out, "ap_ssid", field_text(c->ap_ssid).c_str());
  add_text(out, "ap_psk", field_text(c->ap_psk).c_str());
  add_number(out, "ap_mode", cfg_get(c->ap_mode));
  add_number(out, "ap_channel", cfg_get(c->ap_channel));
  add_text(out, "ap_country", field_text(c->ap_country).c_str());
  add_text(out, "lan_iface", std::to_string(lan_code).c_str());
  add_text(out, "lan_ssid", field_text(c->wifi_ssid).c_str());
  add_text(out, "lan_psk", field_text(c->wifi_psk).c_str());
  out += "\"cam_iface\":\"\",\"cam_ssid\":\"\",\"cam_psk\":\"\",";
  add_text(out, "version", field_text(c->version).c_str());
  // The members above are bounded by the field sizes; only the list can run
  // long, and it is cut at a whole object.
  static const char kListOpen[] = "\"ifaces\":[";
  static const char kClose[] = "]}";
  size_t fixed = out.size() + sizeof kListOpen - 1 + sizeof kClose - 1;
  size_t room = fixed < kReportMax ? kReportMax - fixed : 0;
  std::string list = iface_list(room < kIfaceListMax ? room : kIfaceListMax);
  out += kListOpen;
  out += list;
  out += kClose;
  return out;
}
