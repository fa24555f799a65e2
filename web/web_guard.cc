#include "web/web_guard.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

namespace {

std::string lower_name(std::string name) {
  while (!name.empty() && name.back() == '.') name.pop_back();
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

std::vector<std::string> web_host_names(const std::vector<std::string>& extra) {
  std::vector<std::string> names = {"localhost"};
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof host - 1) == 0 && host[0]) {
    names.push_back(lower_name(host));
    names.push_back(lower_name(std::string(host) + ".local"));
  }
  for (const std::string& n : extra)
    if (!n.empty()) names.push_back(lower_name(n));
  return names;
}

bool web_host_allowed(const char* host_header, const std::vector<std::string>& names) {
  if (!host_header) return false;
  std::string h = host_header;
  if (h.empty() || h.size() > 255) return false;
  std::string name, port;
  if (h[0] == '[') {
    size_t close = h.find(']');
    if (close == std::string::npos) return false;
    name = h.substr(1, close - 1);
    std::string rest = h.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
    if (!rest.empty()) port = rest.substr(1);
    in6_addr a6;
    if (inet_pton(AF_INET6, name.c_str(), &a6) != 1) return false;
    if (!rest.empty() && port.empty()) return false;
  } else {
    size_t colon = h.find(':');
    name = h.substr(0, colon);
    if (colon != std::string::npos) {
      port = h.substr(colon + 1);
      if (port.empty()) return false;
    }
  }
  if (port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  if (h[0] == '[') return true;
  in_addr a4;
  if (inet_pton(AF_INET, name.c_str(), &a4) == 1) return true;
  std::string n = lower_name(name);
  return !n.empty() && std::find(names.begin(), names.end(), n) != names.end();
}

bool web_setting_secret(const char* key) {
  size_t n = strlen(key);
  return (n >= 4 && strcmp(key + n - 4, "_psk") == 0) || strcmp(key, "pin") == 0 ||
         strstr(key, "password") != nullptr;
}

std::string web_settings_redacted(const std::string& report) {
  cJSON* o = cJSON_ParseWithLength(report.data(), report.size());
  if (!cJSON_IsObject(o)) {
    cJSON_Delete(o);
    return "";
  }
  // Every member with a secret's name, duplicates included, and whether one
  // of each name is set.
  std::vector<std::pair<std::string, bool>> marks;
  for (const cJSON* item = o->child; item; item = item->next) {
    if (!item->string || !web_setting_secret(item->string)) continue;
    bool set = !cJSON_IsString(item) || item->valuestring[0] != '\0';
    std::string mark = std::string(item->string) + "_set";
    auto known =
        std::find_if(marks.begin(), marks.end(), [&](const auto& m) { return m.first == mark; });
    if (known == marks.end())
      marks.emplace_back(mark, set);
    else
      known->second |= set;
  }
  cJSON* shown = cJSON_CreateObject();
  for (const cJSON* item = o->child; item; item = item->next) {
    if (!item->string) continue;
    bool mark = std::any_of(marks.begin(), marks.end(),
                            [&](const auto& m) { return m.first == item->string; });
    if (mark) continue;  // written below, from the values themselves
    cJSON_AddItemToObject(
        shown, item->string,
        web_setting_secret(item->string) ? cJSON_CreateString("") : cJSON_Duplicate(item, true));
  }
  for (const auto& [mark, set] : marks) cJSON_AddBoolToObject(shown, mark.c_str(), set);
  cJSON_Delete(o);
  o = shown;
  char* text = cJSON_PrintUnformatted(o);
  std::string out = text ? text : "";
  cJSON_free(text);
  cJSON_Delete(o);
  return out;
}
