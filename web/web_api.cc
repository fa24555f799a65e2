#include "web/web_api.h"

#include <cjson/cJSON.h>
#include <sys/random.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "control/camera_vocabulary.h"

namespace {

WebAnswer error(int status, const char* why) {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddStringToObject(o, "error", why);
  char* text = cJSON_PrintUnformatted(o);
  std::string out = text ? text : "{}";
  cJSON_free(text);
  cJSON_Delete(o);
  return {status, out};
}

cJSON* parse_object(const char* body, size_t length) {
  if (!body) return nullptr;
  const char* end = nullptr;
  cJSON* o = cJSON_ParseWithLengthOpts(body, length, &end, false);
  // cJSON stops after the first value; anything but blanks after it makes
  // the body something else than one object.
  bool rest_blank = o && end;
  for (const char* p = end; rest_blank && p < body + length && *p; p++)
    rest_blank = *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n';
  if (cJSON_IsObject(o) && rest_blank) return o;
  cJSON_Delete(o);
  return nullptr;
}

WebAnswer printed(cJSON* o) {
  char* text = cJSON_PrintUnformatted(o);
  cJSON_Delete(o);
  if (!text) return error(400, "cannot encode the command");
  std::string out = text;
  cJSON_free(text);
  if (out.size() > kWebCommandMax) return error(413, "command longer than 1488 characters");
  return {202, out};
}

const char* member_text(const cJSON* o, const char* name) {
  const cJSON* v = cJSON_GetObjectItemCaseSensitive(o, name);
  return cJSON_IsString(v) ? v->valuestring : nullptr;
}

template <typename List, typename Text>
bool in_list(const char* t, const List& list, Text text_of) {
  if (!t) return false;
  for (const auto& v : list)
    if (text_of(v) == t) return true;
  return false;
}

// A decimal text whose value times 10 is a whole number in list.
template <typename List>
bool tenths_in(const char* t, const List& list) {
  if (!t || !t[0]) return false;
  char* end = nullptr;
  double v = strtod(t, &end);
  if (*end || !std::isfinite(v)) return false;
  double tenths = v * 10.0;
  for (int x : list)
    if (std::fabs(tenths - x) < 1e-6) return true;
  return false;
}

bool whole_in(const char* t, long lo, long hi, long step) {
  if (!t || !t[0]) return false;
  char* end = nullptr;
  long v = strtol(t, &end, 10);
  return !*end && v >= lo && v <= hi && (v - lo) % step == 0;
}

// Why a camera command's value is not one the camera takes, or nullptr. Only
// the commands with a fixed vocabulary are judged; the rest go as they are.
const char* vocabulary_fault(const cJSON* o) {
  const char* cmd = member_text(o, "cmd");
  const char* param = member_text(o, "param");
  auto same = [](std::string_view v) { return v; };
  if (strcmp(cmd, "iso") == 0)
    return in_list(param, kCameraIsoValues, [](const CameraIsoValue& v) { return v.text; })
               ? nullptr
               : "the camera takes no such ISO";
  if (strcmp(cmd, "shutter") == 0)
    return in_list(param, kCameraShutterTexts, same) ? nullptr : "the camera takes no such shutter";
  if (strcmp(cmd, "video_mode") == 0)
    return in_list(param, kCameraImageModes, same) ? nullptr
                                                   : "the camera takes no such exposure program";
  if (strcmp(cmd, "aperture") == 0)
    return tenths_in(param, kCameraApertureTenths) ? nullptr
                                                   : "the lens takes f/1.7 to f/16 in its steps";
  if (strcmp(cmd, "ev") == 0)
    return tenths_in(param, kCameraEvTenths) ? nullptr : "EV goes from -3.0 to +3.0 in thirds";
  if (strcmp(cmd, "wb") == 0) {
    if (param && strcmp(param, "custom") == 0)
      return whole_in(member_text(o, "value1"), kCameraWbCustomMin, kCameraWbCustomMax,
                      kCameraWbCustomStep)
                 ? nullptr
                 : "custom white balance takes 2000 to 25500 K in steps of 100";
    return in_list(param, kCameraWbPresets, [](const CameraWbPreset& w) { return w.name; })
               ? nullptr
               : "the camera takes no such white balance";
  }
  if (strcmp(cmd, "camera") == 0 && param && strcmp(param, "mode") == 0) {
    const char* mode = member_text(o, "value1");
    return mode && (strcmp(mode, "video") == 0 || strcmp(mode, "photo") == 0)
               ? nullptr
               : "the camera mode is video or photo";
  }
  return nullptr;
}

// A setting value as the daemon reads it: a text; a whole number or a
// boolean is written out as one ("1", "0").
bool value_text(const cJSON* v, std::string* out) {
  if (cJSON_IsString(v)) {
    *out = v->valuestring;
    return true;
  }
  if (cJSON_IsBool(v)) {
    out->assign(1, cJSON_IsTrue(v) ? '1' : '0');
    return true;
  }
  if (cJSON_IsNumber(v) && v->valuedouble >= -2147483648.0 && v->valuedouble <= 2147483647.0 &&
      v->valuedouble == static_cast<double>(static_cast<int64_t>(v->valuedouble))) {
    *out = std::to_string(static_cast<int64_t>(v->valuedouble));
    return true;
  }
  return false;
}

// Equal in time that does not depend on where the texts differ.
bool same_text(const std::string& a, const std::string& b) {
  unsigned diff = a.size() != b.size();
  size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    unsigned char x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    diff |= x ^ y;
  }
  return diff == 0;
}

std::string new_token() {
  unsigned char raw[16] = {};
  size_t got = 0;
  while (got < sizeof raw) {
    ssize_t n = getrandom(raw + got, sizeof raw - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  std::string hex;
  char two[3];
  for (unsigned char c : raw) {
    snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  return got == sizeof raw ? hex : "";
}

}  // namespace

WebAnswer web_command_body(const char* body, size_t length) {
  if (length > kWebBodyMax) return error(413, "body too long");
  cJSON* o = parse_object(body, length);
  if (!o) return error(400, "the body must be one JSON object");
  const cJSON* cmd = cJSON_GetObjectItemCaseSensitive(o, "cmd");
  if (!cJSON_IsString(cmd) || !cmd->valuestring[0]) {
    cJSON_Delete(o);
    return error(400, "the object needs a text \"cmd\"");
  }
  if (const char* why = vocabulary_fault(o)) {
    cJSON_Delete(o);
    return error(400, why);
  }
  return printed(o);
}

WebAnswer web_settings_body(const char* body, size_t length) {
  if (length > kWebBodyMax) return error(413, "body too long");
  cJSON* in = parse_object(body, length);
  if (!in) return error(400, "the body must be one JSON object");
  const cJSON* name = cJSON_GetObjectItemCaseSensitive(in, "name");
  if (!cJSON_IsString(name) || !name->valuestring[0]) {
    cJSON_Delete(in);
    return error(400, "the object needs a text \"name\"");
  }
  cJSON* out = cJSON_CreateObject();
  cJSON_AddStringToObject(out, "cmd", "updateparam");
  cJSON_AddStringToObject(out, "name", name->valuestring);
  char key[16];
  for (int i = 1; i <= 12; i++) {
    if (i == 1)
      snprintf(key, sizeof key, "value");
    else
      snprintf(key, sizeof key, "value%d", i);
    const cJSON* v = cJSON_GetObjectItemCaseSensitive(in, key);
    if (!v) continue;
    std::string text;
    if (!value_text(v, &text)) {
      cJSON_Delete(in);
      cJSON_Delete(out);
      return error(400, "values must be texts, whole numbers or booleans");
    }
    cJSON_AddStringToObject(out, key, text.c_str());
  }
  cJSON_Delete(in);
  return printed(out);
}

WebAnswer web_settings_keep_passwords(const WebAnswer& settings, const std::string& report) {
  if (settings.status != 202) return settings;
  cJSON* o = cJSON_Parse(settings.text.c_str());
  const char* name = member_text(o, "name");
  static const char* const kKeep[][2] = {{"value6", "lan_psk"}, {"value9", "ap_psk"}};
  bool missing = false;
  for (const auto& k : kKeep) missing |= !cJSON_GetObjectItemCaseSensitive(o, k[0]);
  if (!name || strcmp(name, "wifi") != 0 || !missing) {
    cJSON_Delete(o);
    return settings;
  }
  cJSON* r = cJSON_Parse(report.c_str());
  for (const auto& k : kKeep) {
    if (cJSON_GetObjectItemCaseSensitive(o, k[0])) continue;
    const char* stored = member_text(r, k[1]);
    if (!stored) {
      cJSON_Delete(r);
      cJSON_Delete(o);
      return error(503, "the stored Wi-Fi password is not known: type it again");
    }
    cJSON_AddStringToObject(o, k[0], stored);
  }
  cJSON_Delete(r);
  return printed(o);
}

std::string web_login_pin(const char* body, size_t length) {
  if (length > kWebBodyMax) return "";
  cJSON* o = parse_object(body, length);
  const cJSON* pin = cJSON_GetObjectItemCaseSensitive(o, "pin");
  std::string out = cJSON_IsString(pin) ? pin->valuestring : "";
  cJSON_Delete(o);
  return out;
}

bool web_same_origin(const char* content_type, const char* origin, const char* host,
                     const char* fetch_site) {
  if (!content_type || strncasecmp(content_type, "application/json", 16) != 0) return false;
  char c = content_type[16];
  if (c != '\0' && c != ';' && c != ' ') return false;
  if (fetch_site && strcmp(fetch_site, "cross-site") == 0) return false;
  if (fetch_site && strcmp(fetch_site, "same-site") == 0) return false;
  if (!origin) return true;  // not a browser, or one that sends no Origin on same-origin
  if (!host || !host[0]) return false;
  return strcmp(origin, (std::string("http://") + host).c_str()) == 0;
}

namespace {

// The address's entry. A new one takes a free slot, else the slot whose
// wait ends first; when that wait is still running the newcomer inherits
// it, so that many addresses taking turns cannot wash their waits out of
// the table.
WebPinClient* pin_client(WebPinState* st, const std::string& address, int64_t now_ms) {
  WebPinClient* pick = nullptr;
  for (WebPinClient& c : st->clients) {
    if (!c.address.empty() && c.address == address) return &c;
    bool better =
        !pick ||
        (!pick->address.empty() &&
         (c.address.empty() || c.locked_until_ms < pick->locked_until_ms ||
          (c.locked_until_ms == pick->locked_until_ms && c.last_try_ms < pick->last_try_ms)));
    if (better) pick = &c;
  }
  WebPinClient out = *pick;
  *pick = WebPinClient{};
  pick->address = address;
  if (!out.address.empty() && out.locked_until_ms > now_ms) {
    pick->failures = out.failures;
    pick->locked_until_ms = out.locked_until_ms;
  }
  return pick;
}

bool session_live(const WebPinSession& s, int64_t now_ms) {
  return !s.token.empty() && now_ms - s.last_used_ms < kWebSessionIdleMs;
}

}  // namespace

WebLogin web_pin_login(WebPinState* st, const std::string& address, const std::string& pin,
                       int64_t now_ms, std::string* token, int64_t* retry_ms) {
  *retry_ms = 0;
  WebPinClient* c = pin_client(st, address.empty() ? "?" : address, now_ms);
  c->last_try_ms = now_ms;
  if (now_ms < c->locked_until_ms) {
    *retry_ms = c->locked_until_ms - now_ms;
    return WebLogin::wait;
  }
  if (!st->pin.empty() && !same_text(pin, st->pin)) {
    c->failures = std::min(c->failures + 1, 16);
    int64_t delay = std::min<int64_t>(int64_t{500} << std::min(c->failures - 1, 6), 30000);
    c->locked_until_ms = now_ms + delay;
    *retry_ms = delay;
    return WebLogin::wrong;
  }
  c->failures = 0;
  *token = new_token();
  if (token->empty()) return WebLogin::wrong;
  // A free or expired slot, else the least recently used session.
  WebPinSession* slot = &st->sessions[0];
  for (WebPinSession& s : st->sessions) {
    if (!session_live(s, now_ms)) {
      slot = &s;
      break;
    }
    if (s.last_used_ms < slot->last_used_ms) slot = &s;
  }
  *slot = {*token, now_ms};
  return WebLogin::ok;
}

bool web_pin_session_ok(WebPinState* st, const char* cookie_header, int64_t now_ms) {
  if (st->pin.empty()) return true;
  if (!cookie_header) return false;
  // "a=1; pqw_session=HEX; b=2"
  std::string h = cookie_header;
  std::string key = std::string(kWebCookieName) + "=";
  size_t at = 0;
  while ((at = h.find(key, at)) != std::string::npos) {
    if (at == 0 || h[at - 1] == ' ' || h[at - 1] == ';') {
      size_t start = at + key.size();
      size_t end = h.find(';', start);
      std::string value = h.substr(start, end == std::string::npos ? end : end - start);
      for (WebPinSession& s : st->sessions) {
        if (!s.token.empty() && !session_live(s, now_ms)) s = {};  // ended for good
        if (session_live(s, now_ms) && same_text(s.token, value)) {
          s.last_used_ms = now_ms;
          return true;
        }
      }
    }
    at += key.size();
  }
  return false;
}

std::string web_pin_problem(const std::string& pin) {
  if (pin.empty() || pin.size() >= kWebPinMin) return "";
  return "the PIN must have at least " + std::to_string(kWebPinMin) + " characters";
}

std::string web_pin_cookie(const std::string& token) {
  return std::string(kWebCookieName) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string web_vocabulary_json() {
  cJSON* o = cJSON_CreateObject();
  auto texts = [](cJSON* parent, const char* name, auto& list, auto text_of) {
    cJSON* a = cJSON_AddArrayToObject(parent, name);
    for (const auto& v : list) {
      std::string t(text_of(v));
      cJSON_AddItemToArray(a, cJSON_CreateString(t.c_str()));
    }
  };
  texts(o, "iso", kCameraIsoValues, [](const CameraIsoValue& v) { return v.text; });
  texts(o, "shutter", kCameraShutterTexts, [](std::string_view v) { return v; });
  cJSON* ev = cJSON_AddArrayToObject(o, "ev");
  for (int t : kCameraEvTenths) {
    char text[8];
    snprintf(text, sizeof text, "%.1f", t / 10.0);
    cJSON_AddItemToArray(ev, cJSON_CreateString(text));
  }
  texts(o, "wb", kCameraWbPresets, [](const CameraWbPreset& w) { return w.name; });
  cJSON* custom = cJSON_AddObjectToObject(o, "wb_custom");
  cJSON_AddNumberToObject(custom, "min", kCameraWbCustomMin);
  cJSON_AddNumberToObject(custom, "max", kCameraWbCustomMax);
  cJSON_AddNumberToObject(custom, "step", kCameraWbCustomStep);
  cJSON* aperture = cJSON_AddArrayToObject(o, "aperture");
  for (int t : kCameraApertureTenths) {
    char text[8];
    snprintf(text, sizeof text, "%.1f", t / 10.0);
    cJSON_AddItemToArray(aperture, cJSON_CreateString(text));
  }
  texts(o, "video_mode", kCameraImageModes, [](std::string_view v) { return v; });
  char* text = cJSON_PrintUnformatted(o);
  std::string out = text ? text : "{}";
  cJSON_free(text);
  cJSON_Delete(o);
  return out;
}
