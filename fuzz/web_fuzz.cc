// libFuzzer target: pqw-web's reading of what HTTP clients send: command and
// settings bodies, the PIN body, the same-origin headers, the session
// cookie, the Wi-Fi passwords filled in from a report, the Host check and the
// settings report with its passwords taken out. Also checks the promises the
// API makes: an accepted command is one JSON object with a text "cmd", no
// longer than the daemon reads; a redacted report carries no password.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "web/web_api.h"
#include "web/web_guard.h"

namespace {

void accepted_is_a_command(const WebAnswer& a, const char* key) {
  if (a.status != 202) return;
  if (a.text.size() > kWebCommandMax) abort();
  cJSON* o = cJSON_Parse(a.text.c_str());
  if (!cJSON_IsObject(o) || !cJSON_IsString(cJSON_GetObjectItem(o, key))) abort();
  cJSON_Delete(o);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Not NUL-terminated on purpose: the parsers get a length.
  const char* body = reinterpret_cast<const char*>(data);
  accepted_is_a_command(web_command_body(body, size), "cmd");
  accepted_is_a_command(web_settings_body(body, size), "name");
  web_login_pin(body, size);

  // The same bytes as four header values, split at NULs.
  std::string text(body, size);
  std::string parts[4];
  size_t at = 0;
  for (std::string& p : parts) {
    size_t end = text.find('\0', at);
    p = text.substr(at < text.size() ? at : text.size(), end == std::string::npos ? end : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
  }
  // parts[1] as the daemon's configuration report: the Wi-Fi passwords kept
  // from it still make one command within the limit.
  accepted_is_a_command(web_settings_keep_passwords(web_settings_body(body, size), parts[1]),
                        "name");
  web_same_origin(parts[0].c_str(), parts[1].c_str(), parts[2].c_str(), parts[3].c_str());
  WebPinState st;
  st.pin = "123456";
  st.sessions[0] = {"00112233445566778899aabbccddeeff", 0};
  web_pin_session_ok(&st, parts[3].c_str(), size);
  std::string token;
  int64_t retry = 0;
  web_pin_login(&st, parts[2], parts[1], static_cast<int64_t>(size), &token, &retry);

  // The Host check, and the passwords kept off the page: a redacted report
  // never carries a secret's value.
  static const std::vector<std::string> names = web_host_names({"rig.example"});
  web_host_allowed(parts[2].c_str(), names);
  std::string shown = web_settings_redacted(text);
  if (!shown.empty()) {
    cJSON* o = cJSON_Parse(shown.c_str());
    for (const cJSON* item = o ? o->child : nullptr; item; item = item->next)
      if (item->string && web_setting_secret(item->string) && !cJSON_IsBool(item) &&
          !(cJSON_IsString(item) && item->valuestring[0] == '\0'))
        abort();  // a value other than "" or a NAME_set mark
    cJSON_Delete(o);
  }
  return 0;
}
