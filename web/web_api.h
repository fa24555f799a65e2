// The parts of pqw-web's HTTP API that judge what a client sent: request
// bodies, the same-origin check, the PIN and its sessions. No sockets here.
//
//   web_command_body("{\"cmd\":\"record\",\"param\":\"start\"}")  -> 202, the text to send
//   web_command_body("[1]")                                      -> 400 {"error":...}
//   web_settings_body("{\"name\":\"osd_enabled\",\"value\":\"1\"}")
//     -> 202, {"cmd":"updateparam","name":"osd_enabled","value":"1"}
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The daemon runs a command text as long as one viewer message carries
// (kCommandTextMax); a longer one could never arrive whole.
inline constexpr size_t kWebCommandMax = 1488;
// The most a POST body may carry before it is refused unread.
inline constexpr size_t kWebBodyMax = 4096;

struct WebAnswer {
  int status;        // 202 accepted, 400 bad body, 413 too long
  std::string text;  // 202: the command to send; otherwise {"error":"..."}
};

// A viewer JSON command: a JSON object with a text "cmd". A camera command
// whose value the camera does not take ({"cmd":"aperture","param":"99"}) is
// refused with 400 rather than sent: the camera would show it and misbehave.
WebAnswer web_command_body(const char* body, size_t length);
// {"name": text, "value": text or number, "value2".."value12": the same}
// becomes the matching "updateparam" command.
WebAnswer web_settings_body(const char* body, size_t length);
// A "wifi" updateparam rewrites both passwords: one the page left out (it
// never sees them) is filled in from the daemon's report, so that changing
// the band does not wipe the password. 503 when the report is missing or
// unreadable (a password is then never guessed); other commands pass as they
// are.
WebAnswer web_settings_keep_passwords(const WebAnswer& settings, const std::string& report);
// {"pin": text}: the PIN as sent, or "" when the body holds none.
std::string web_login_pin(const char* body, size_t length);

// A request that changes something must come from our own page: a JSON body
// (which a form on another site cannot send without asking first), and an
// Origin, when the browser sends one, naming the host it was sent to.
// Sec-Fetch-Site, when present, must not say "cross-site".
bool web_same_origin(const char* content_type, const char* origin, const char* host,
                     const char* fetch_site);

// PIN sessions: a few random tokens, the least recently used replaced first;
// a session unused for 12 hours ends. Tokens live only in this process, so
// every restart (with the same PIN or another) ends every session.
//
// Wrong PINs wait longer each time (doubling from 500 ms up to 30 s) before
// the next attempt from the same client address is even compared. The wait
// is per address so that an attacker who keeps failing cannot keep the
// owner, at another address, out. The table is bounded: a new address takes
// the slot whose wait ends first, and inherits that wait while it runs (so
// more addresses than slots, taking turns, still wait).
inline constexpr int kWebSessions = 16;
inline constexpr int kWebPinClients = 64;
inline constexpr int64_t kWebSessionIdleMs = int64_t{12} * 3600 * 1000;
// Shorter PINs are refused at start: with a wait per address, a short PIN
// falls to a handful of addresses guessing in turn.
inline constexpr size_t kWebPinMin = 6;
struct WebPinSession {
  std::string token;  // empty: a free slot
  int64_t last_used_ms = 0;
};
struct WebPinClient {
  std::string address;  // empty: a free slot
  int failures = 0;
  int64_t locked_until_ms = 0;
  int64_t last_try_ms = 0;
};
struct WebPinState {
  std::string pin;  // empty: no PIN, everything open
  WebPinSession sessions[kWebSessions];
  WebPinClient clients[kWebPinClients];
};
enum class WebLogin { ok, wrong, wait };
// address: the client's address as text. On ok, *token gets the new session
// token for the cookie. On wait (and wrong), *retry_ms says how long until
// the next attempt from that address is compared.
WebLogin web_pin_login(WebPinState* st, const std::string& address, const std::string& pin,
                       int64_t now_ms, std::string* token, int64_t* retry_ms);
// The request's Cookie header carries a live session (or no PIN is set); a
// live session counts as used at now_ms.
bool web_pin_session_ok(WebPinState* st, const char* cookie_header, int64_t now_ms);
// Why a PIN cannot be used ("" when it can: empty means no PIN).
std::string web_pin_problem(const std::string& pin);
// The Set-Cookie value for a token.
std::string web_pin_cookie(const std::string& token);
inline constexpr const char* kWebCookieName = "pqw_session";

// The values the camera commands accept, as the page's pickers offer them:
// {"iso":[...],"shutter":[...],"ev":[...],"wb":[...],"wb_custom":{min,max,step},
//  "aperture":[...],"video_mode":[...]}.
std::string web_vocabulary_json();
