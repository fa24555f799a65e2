#include "config/config_report.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/config_fields.h"
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
  ConfigRecord* c = config_record();
  // The report's members in their place; the table keeps each field's place.
  std::vector<const ConfigField*> rows(kConfigTableSize, nullptr);
  size_t count = 0;
  for (size_t i = 0; i < kConfigTableSize; i++) {
    int pos = kConfigTable[i].report_pos;
    if (kConfigTable[i].style == ReportStyle::none || pos < 1 ||
        static_cast<size_t>(pos) > kConfigTableSize)
      continue;
    rows[pos - 1] = &kConfigTable[i];
    if (static_cast<size_t>(pos) > count) count = static_cast<size_t>(pos);
  }
  std::string out;
  out.reserve(2048);
  out += "{\"app\":\"wired\",";
  char text[512];
  for (size_t i = 0; i < count; i++) {
    const ConfigField* f = rows[i];
    if (!f) continue;
    // The camera's own Wi-Fi is not set from this device; viewers expect
    // its members, empty, before the version.
    if (strcmp(f->report, "version") == 0)
      out += "\"cam_iface\":\"\",\"cam_ssid\":\"\",\"cam_psk\":\"\",";
    switch (f->style) {
      case ReportStyle::none:
        break;
      case ReportStyle::number:
        add_number(out, f->report, config_field_get(c, *f));
        break;
      case ReportStyle::text:
        cfg_text_get(text, sizeof text, config_field_text(c, *f), f->slot.size);
        add_text(out, f->report, text);
        break;
      case ReportStyle::iface:
        cfg_text_get(text, sizeof text, config_field_text(c, *f), f->slot.size);
        add_text(out, f->report, std::to_string(iface_code(text)).c_str());
        break;
    }
  }
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
