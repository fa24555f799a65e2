// libFuzzer target: pqw-web's reading of what HTTP clients send: command and
// settings bodies, the PIN body, the same-origin headers and the session
// cookie, and the Wi-Fi passwords filled in from a report. Also checks the promise the API makes:
// an accepted command is one JSON object with a text "cmd", no longer than the daemon reads.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/web_api.h"

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
  st.pin = "1234";
  st.tokens[0] = "00112233445566778899aabbccddeeff";
  web_pin_session_ok(st, parts[3].c_str());
  return 0;
}
