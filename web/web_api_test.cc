// What the API answers to good and bad bodies, the same-origin rule and the
// PIN sessions.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "web/web_api.h"

namespace {

TEST(WebApi, CommandBodies) {
  // The daemon runs commands of up to 1488 characters: long Wi-Fi settings
  // need them.
  const std::string at_limit = "{\"cmd\":\"" + std::string(1488 - 10, 'a') + "\"}";
  const std::string long_cmd = "{\"cmd\":\"" + std::string(1488 - 9, 'a') + "\"}";
  const std::string thousand = "{\"cmd\":\"" + std::string(1000 - 10, 'a') + "\"}";
  const struct {
    std::string body;
    int status;
    const char* sent;
  } kBodies[] = {
      {"{\"cmd\":\"record\",\"param\":\"start\"}", 202, "{\"cmd\":\"record\",\"param\":\"start\"}"},
      {" { \"cmd\" : \"iso\", \"param\" : \"400\" } ", 202, "{\"cmd\":\"iso\",\"param\":\"400\"}"},
      {"{\"cmd\":\"x\",\"value1\":\"\\u00e9\"}", 202, "{\"cmd\":\"x\",\"value1\":\"\xc3\xa9\"}"},
      {"", 400, nullptr},
      {"[1]", 400, nullptr},
      {"\"cmd\"", 400, nullptr},
      {"{\"cmd\":1}", 400, nullptr},
      {"{\"cmd\":\"\"}", 400, nullptr},
      {"{\"param\":\"start\"}", 400, nullptr},
      {"{\"cmd\":\"record\"", 400, nullptr},
      {"{\"cmd\":\"record\"}garbage", 400, nullptr},
      {at_limit, 202, at_limit.c_str()},
      {thousand, 202, thousand.c_str()},
      {long_cmd, 413, nullptr},
      {std::string(4097, ' '), 413, nullptr},
      // Values the camera's vocabulary takes go; any other is refused here.
      {"{\"cmd\":\"aperture\",\"param\":\"2.8\"}", 202, "{\"cmd\":\"aperture\",\"param\":\"2.8\"}"},
      {"{\"cmd\":\"aperture\",\"param\":\"16\"}", 202, "{\"cmd\":\"aperture\",\"param\":\"16\"}"},
      {"{\"cmd\":\"aperture\",\"param\":\"99\"}", 400, nullptr},
      {"{\"cmd\":\"aperture\",\"param\":\"2.9\"}", 400, nullptr},
      {"{\"cmd\":\"aperture\",\"param\":\"nan\"}", 400, nullptr},
      {"{\"cmd\":\"aperture\",\"param\":2.8}", 400, nullptr},
      {"{\"cmd\":\"aperture\"}", 400, nullptr},
      {"{\"cmd\":\"iso\",\"param\":\"auto\"}", 202, "{\"cmd\":\"iso\",\"param\":\"auto\"}"},
      {"{\"cmd\":\"iso\",\"param\":\"500\"}", 400, nullptr},
      {"{\"cmd\":\"shutter\",\"param\":\"1/500\"}", 400, nullptr},
      {"{\"cmd\":\"shutter\",\"param\":\"3.2s\"}", 202, "{\"cmd\":\"shutter\",\"param\":\"3.2s\"}"},
      {"{\"cmd\":\"ev\",\"param\":\"-0.7\"}", 202, "{\"cmd\":\"ev\",\"param\":\"-0.7\"}"},
      {"{\"cmd\":\"ev\",\"param\":\"0.5\"}", 400, nullptr},
      {"{\"cmd\":\"ev\",\"param\":\"4.0\"}", 400, nullptr},
      {"{\"cmd\":\"video_mode\",\"param\":\"manual\"}", 202,
       "{\"cmd\":\"video_mode\",\"param\":\"manual\"}"},
      {"{\"cmd\":\"video_mode\",\"param\":\"night\"}", 400, nullptr},
      {"{\"cmd\":\"wb\",\"param\":\"cloudy\"}", 202, "{\"cmd\":\"wb\",\"param\":\"cloudy\"}"},
      {"{\"cmd\":\"wb\",\"param\":\"custom\",\"value1\":\"5600\"}", 202,
       "{\"cmd\":\"wb\",\"param\":\"custom\",\"value1\":\"5600\"}"},
      {"{\"cmd\":\"wb\",\"param\":\"custom\",\"value1\":\"5650\"}", 400, nullptr},
      {"{\"cmd\":\"wb\",\"param\":\"custom\",\"value1\":\"25600\"}", 400, nullptr},
      {"{\"cmd\":\"wb\",\"param\":\"fluorescent\"}", 400, nullptr},
      {"{\"cmd\":\"camera\",\"param\":\"mode\",\"value1\":\"photo\"}", 202,
       "{\"cmd\":\"camera\",\"param\":\"mode\",\"value1\":\"photo\"}"},
      {"{\"cmd\":\"camera\",\"param\":\"mode\",\"value1\":\"cinema\"}", 400, nullptr},
  };
  for (const auto& b : kBodies) {
    WebAnswer a = web_command_body(b.body.data(), b.body.size());
    EXPECT_EQ(a.status, b.status) << b.body;
    if (b.sent) {
      EXPECT_EQ(a.text, b.sent);
    } else {
      cJSON* e = cJSON_Parse(a.text.c_str());
      EXPECT_TRUE(cJSON_IsString(cJSON_GetObjectItem(e, "error"))) << a.text;
      cJSON_Delete(e);
    }
  }
  // Not NUL-terminated: only the given bytes count.
  const char raw[] = "{\"cmd\":\"shot\"}XXXX";
  EXPECT_EQ(web_command_body(raw, 14).status, 202);
}

TEST(WebApi, SettingsBodies) {
  const struct {
    const char* body;
    int status;
    const char* sent;
  } kBodies[] = {
      {"{\"name\":\"osd_enabled\",\"value\":\"1\"}", 202,
       "{\"cmd\":\"updateparam\",\"name\":\"osd_enabled\",\"value\":\"1\"}"},
      {"{\"name\":\"osd_borders\",\"value\":300,\"value2\":7}", 202,
       "{\"cmd\":\"updateparam\",\"name\":\"osd_borders\",\"value\":\"300\",\"value2\":\"7\"}"},
      {"{\"name\":\"hud_enabled\",\"value\":false}", 202,
       "{\"cmd\":\"updateparam\",\"name\":\"hud_enabled\",\"value\":\"0\"}"},
      {"{\"name\":\"wifi\",\"value4\":\"2\",\"value12\":\"US\",\"other\":1}", 202,
       "{\"cmd\":\"updateparam\",\"name\":\"wifi\",\"value4\":\"2\",\"value12\":\"US\"}"},
      {"{\"value\":\"1\"}", 400, nullptr},
      {"{\"name\":\"x\",\"value\":1.5}", 400, nullptr},
      {"{\"name\":\"x\",\"value\":[1]}", 400, nullptr},
      {"{\"name\":\"x\",\"value\":1e300}", 400, nullptr},
      {"{\"name\":\"x\",\"value\":null}", 400, nullptr},
      {"null", 400, nullptr},
  };
  for (const auto& b : kBodies) {
    WebAnswer a = web_settings_body(b.body, strlen(b.body));
    EXPECT_EQ(a.status, b.status) << b.body;
    if (b.sent) {
      EXPECT_EQ(a.text, b.sent);
    }
  }
  std::string big = "{\"name\":\"wifi\",\"value5\":\"" + std::string(1500, 'n') + "\"}";
  std::string fits = "{\"name\":\"wifi\",\"value5\":\"" + std::string(300, 'n') + "\"}";
  EXPECT_EQ(web_settings_body(fits.data(), fits.size()).status, 202);
  EXPECT_EQ(web_settings_body(big.data(), big.size()).status, 413);
}

TEST(WebApi, SameOriginOnly) {
  const struct {
    const char* type;
    const char* origin;
    const char* host;
    const char* site;
    bool ok;
  } kCases[] = {
      {"application/json", "http://pi:8080", "pi:8080", "same-origin", true},
      {"application/json; charset=utf-8", nullptr, "pi:8080", nullptr, true},  // curl
      {"Application/JSON", "http://pi:8080", "pi:8080", nullptr, true},
      {"application/json", "http://evil.example", "pi:8080", "cross-site", false},
      {"application/json", "http://evil.example", "pi:8080", nullptr, false},
      {"application/json", nullptr, "pi:8080", "cross-site", false},
      {"application/json", "http://other.pi:8080", "pi:8080", "same-site", false},
      {"application/jsonp", nullptr, "pi:8080", nullptr, false},
      {"text/plain", nullptr, "pi:8080", nullptr, false},  // what a foreign form can send
      {nullptr, nullptr, "pi:8080", nullptr, false},
      {"application/json", "null", "pi:8080", nullptr, false},
      {"application/json", "http://pi:8080", nullptr, nullptr, false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(web_same_origin(c.type, c.origin, c.host, c.site), c.ok)
        << (c.type ? c.type : "-") << " " << (c.origin ? c.origin : "-");
}

TEST(WebApi, PinSessionsAndSlowerWrongPins) {
  WebPinState st;
  std::string token;
  int64_t retry = 0;
  EXPECT_TRUE(web_pin_session_ok(&st, nullptr, 0));  // no PIN: open
  st.pin = "246810";
  EXPECT_FALSE(web_pin_session_ok(&st, nullptr, 0));

  // Each wrong PIN doubles the wait of its address; a try inside the wait is
  // not compared, not even the right PIN. Another address is not kept waiting.
  const char* a = "192.168.4.20";
  const char* owner = "192.168.4.21";
  const struct {
    int64_t now;
    const char* from;
    const char* pin;
    WebLogin result;
    int64_t retry;
  } kTries[] = {
      {0, a, "111111", WebLogin::wrong, 500},        {499, a, "246810", WebLogin::wait, 1},
      {499, owner, "246810", WebLogin::ok, 0},       {500, a, "111112", WebLogin::wrong, 1000},
      {1000, owner, "222222", WebLogin::wrong, 500}, {1500, a, "111113", WebLogin::wrong, 2000},
      {1500, owner, "246810", WebLogin::ok, 0},      {3000, a, "246810", WebLogin::wait, 500},
      {3500, a, "246810", WebLogin::ok, 0},          {3500, a, "9", WebLogin::wrong, 500},
  };
  for (const auto& t : kTries) {
    EXPECT_EQ(web_pin_login(&st, t.from, t.pin, t.now, &token, &retry), t.result) << t.now;
    EXPECT_EQ(retry, t.retry) << t.now;
  }
  for (int i = 0; i < 20; i++) web_pin_login(&st, a, "0", 1000000 * (i + 1), &token, &retry);
  EXPECT_EQ(retry, 30000);  // the wait stops growing

  // The table of addresses is bounded: a crowd of new addresses never grows
  // it, and taking turns does not wash the waits out: once every slot waits,
  // a newcomer inherits the wait that ends first. When the waits are over,
  // a newcomer is compared at once.
  const int64_t crowd = 30000000;
  int compared = 0;
  for (int i = 0; i < 3 * kWebPinClients; i++)
    compared += web_pin_login(&st, "10.0.0." + std::to_string(i), "0", crowd + i, &token, &retry) ==
                WebLogin::wrong;
  EXPECT_EQ(compared, kWebPinClients);
  int slots = 0;
  for (const WebPinClient& c : st.clients) slots += c.address.rfind("10.0.0.", 0) == 0;
  EXPECT_EQ(slots, kWebPinClients);
  EXPECT_EQ(web_pin_login(&st, "10.0.1.1", "0", crowd + 600, &token, &retry), WebLogin::wrong);

  const int64_t t = 99999999;
  ASSERT_EQ(web_pin_login(&st, owner, "246810", t, &token, &retry), WebLogin::ok);
  EXPECT_EQ(token.size(), 32u);
  EXPECT_EQ(web_pin_cookie(token), "pqw_session=" + token + "; Path=/; HttpOnly; SameSite=Strict");
  const struct {
    std::string cookie;
    bool ok;
  } kCookies[] = {
      {"pqw_session=" + token, true},   {"a=1; pqw_session=" + token + "; b=2", true},
      {"xpqw_session=" + token, false}, {"pqw_session=" + token.substr(1), false},
      {"pqw_session=", false},          {"", false},
  };
  for (const auto& c : kCookies)
    EXPECT_EQ(web_pin_session_ok(&st, c.cookie.c_str(), t), c.ok) << c.cookie;
  EXPECT_EQ(web_login_pin("{\"pin\":\"12\"}", 12), "12");
  EXPECT_EQ(web_login_pin("{\"pin\":12}", 10), "");

  // A session lives while used; 12 hours unused end it.
  const std::string cookie = "pqw_session=" + token;
  const int64_t h = 3600 * 1000;
  EXPECT_TRUE(web_pin_session_ok(&st, cookie.c_str(), t + 11 * h));
  EXPECT_TRUE(web_pin_session_ok(&st, cookie.c_str(), t + 22 * h));
  EXPECT_FALSE(web_pin_session_ok(&st, cookie.c_str(), t + 34 * h));
  EXPECT_FALSE(web_pin_session_ok(&st, cookie.c_str(), t + 22 * h));  // ended for good

  // The least recently used sessions give way to new ones.
  std::string first, kept;
  web_pin_login(&st, owner, "246810", t, &first, &retry);
  web_pin_login(&st, owner, "246810", t, &kept, &retry);
  for (int i = 1; i <= kWebSessions - 1; i++) {
    web_pin_session_ok(&st, ("pqw_session=" + kept).c_str(), t + i);
    web_pin_login(&st, owner, "246810", t + i, &token, &retry);
  }
  EXPECT_FALSE(web_pin_session_ok(&st, ("pqw_session=" + first).c_str(), t + 100));
  EXPECT_TRUE(web_pin_session_ok(&st, ("pqw_session=" + kept).c_str(), t + 100));
  EXPECT_TRUE(web_pin_session_ok(&st, ("pqw_session=" + token).c_str(), t + 100));

  const struct {
    const char* pin;
    bool ok;
  } kPins[] = {{"", true}, {"1", false}, {"12345", false}, {"123456", true}, {"long pass", true}};
  for (const auto& p : kPins) EXPECT_EQ(web_pin_problem(p.pin).empty(), p.ok) << p.pin;
}

TEST(WebApi, VocabularyFromTheDispatcherTables) {
  cJSON* v = cJSON_Parse(web_vocabulary_json().c_str());
  ASSERT_NE(v, nullptr);
  const struct {
    const char* list;
    int size;
    const char* first;
    const char* last;
  } kLists[] = {{"iso", 8, "auto", "6400"},      {"shutter", 57, "30s", "8000"},
                {"ev", 19, "3.0", "-3.0"},       {"wb", 5, "auto", "neon"},
                {"aperture", 21, "1.7", "16.0"}, {"video_mode", 4, "auto", "manual"}};
  for (const auto& l : kLists) {
    const cJSON* a = cJSON_GetObjectItem(v, l.list);
    ASSERT_EQ(cJSON_GetArraySize(a), l.size) << l.list;
    EXPECT_STREQ(cJSON_GetArrayItem(a, 0)->valuestring, l.first);
    EXPECT_STREQ(cJSON_GetArrayItem(a, l.size - 1)->valuestring, l.last);
    // Whatever the page offers, pqw-web sends.
    for (const cJSON* item = a->child; item; item = item->next) {
      std::string body =
          std::string("{\"cmd\":\"") + l.list + "\",\"param\":\"" + item->valuestring + "\"}";
      EXPECT_EQ(web_command_body(body.data(), body.size()).status, 202) << body;
    }
  }
  EXPECT_EQ(cJSON_GetObjectItem(cJSON_GetObjectItem(v, "wb_custom"), "max")->valueint, 25500);
  cJSON_Delete(v);
}

}  // namespace

TEST(WebApi, WifiKeepsThePasswordsThePageLeftOut) {
  const std::string report = "{\"app\":\"wired\",\"lan_psk\":\"secret-1\",\"ap_psk\":\"secret-2\"}";
  const struct {
    const char* body;
    const char* report;
    int status;
    const char* sent;
  } kCases[] = {
      {"{\"name\":\"wifi\",\"value10\":\"5\"}", report.c_str(), 202,
       "{\"cmd\":\"updateparam\",\"name\":\"wifi\",\"value10\":\"5\",\"value6\":\"secret-1\","
       "\"value9\":\"secret-2\"}"},
      {"{\"name\":\"wifi\",\"value6\":\"new\",\"value9\":\"\"}", report.c_str(), 202,
       "{\"cmd\":\"updateparam\",\"name\":\"wifi\",\"value6\":\"new\",\"value9\":\"\"}"},
      {"{\"name\":\"wifi\",\"value6\":\"new\"}", report.c_str(), 202,
       "{\"cmd\":\"updateparam\",\"name\":\"wifi\",\"value6\":\"new\",\"value9\":\"secret-2\"}"},
      // No report, or one a quote in a password broke: never send a guess.
      {"{\"name\":\"wifi\",\"value10\":\"5\"}", "", 503, nullptr},
      {"{\"name\":\"wifi\",\"value10\":\"5\"}", "{\"app\":\"wired\",\"lan_psk\":\"a\"b\"}", 503,
       nullptr},
      {"{\"name\":\"osd_enabled\",\"value\":\"1\"}", "", 202,
       "{\"cmd\":\"updateparam\",\"name\":\"osd_enabled\",\"value\":\"1\"}"},
      {"{\"value\":\"1\"}", report.c_str(), 400, nullptr},
  };
  for (const auto& c : kCases) {
    WebAnswer a = web_settings_keep_passwords(web_settings_body(c.body, strlen(c.body)), c.report);
    EXPECT_EQ(a.status, c.status) << c.body;
    if (c.sent) {
      EXPECT_EQ(a.text, c.sent) << c.body;
    } else {
      EXPECT_EQ(a.text.find("secret"), std::string::npos);
    }
  }
}
