// The snapshot from datagrams as the daemon sends them, decoded by the same
// code pqw-viewer uses.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/viewer_decode.h"
#include "web/web_snapshot.h"

namespace {

// A framed data datagram around payload bytes.
std::string datagram(std::vector<uint8_t> payload) {
  std::vector<uint8_t> d = {'B', 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0};
  d.insert(d.end(), payload.begin(), payload.end());
  return viewer_decode_json(d.data(), d.size());
}

std::string text_datagram(const std::string& text) {
  return datagram(std::vector<uint8_t>(text.begin(), text.end()));
}

// The value at a dotted path of the snapshot, printed as JSON.
std::string at(const std::string& json, const std::string& path) {
  cJSON* root = cJSON_Parse(json.c_str());
  const cJSON* v = root;
  size_t from = 0;
  while (v && from <= path.size()) {
    size_t dot = path.find('.', from);
    std::string key = path.substr(from, dot == std::string::npos ? dot : dot - from);
    v = cJSON_GetObjectItemCaseSensitive(v, key.c_str());
    if (dot == std::string::npos) break;
    from = dot + 1;
  }
  char* text = v ? cJSON_PrintUnformatted(v) : nullptr;
  std::string out = text ? text : "<absent>";
  cJSON_free(text);
  cJSON_Delete(root);
  return out;
}

TEST(WebSnapshot, FieldsFromViewerMessages) {
  std::vector<uint8_t> state(31, 0);
  state[0] = 2;
  state[5] = static_cast<uint8_t>(-7);                // EV -0.7
  state[6] = 0x06;                                    // WB custom ...
  state[9] = 0x26;                                    // ... 20 + 18 steps: 3800 K
  state[12] = 0xF4, state[13] = 0x81, state[14] = 0;  // shutter 0x81F4: 1/500
  state[16] = 5;                                      // ISO 400
  state[17] = 0x18, state[18] = 0x01;                 // f/2.8
  std::vector<uint8_t> telemetry(24, 0);
  telemetry[0] = 7, telemetry[1] = 1, telemetry[2] = 0x80;
  telemetry[7] = 42;  // recorded seconds (record offset 24)

  WebSnapshot s;
  const int64_t t = 1000;
  for (const std::string& m :
       {datagram({6, 0x13, 2, 0, 1, 6, 0}), datagram({5, 0, 2, 0, 0, 0, 0}),
        datagram({5, 1, 2, 0, 0, 0, 0}), datagram(state), datagram(telemetry),
        datagram({0, 0x10, 0x27, 0xF6, 0xFF, 0, 0}), datagram({3, 25, 0, 0, 0, 0, 0}),
        datagram({12, 2, 0, 33, 0, 0, 0}), text_datagram("{\"app\":\"wired\",\"dmode\":1}")})
    EXPECT_TRUE(web_snapshot_apply(&s, m, t)) << m;
  std::string j = web_snapshot_json(s, t);

  const struct {
    const char* path;
    const char* value;
  } kExpect[] = {
      {"daemon.reachable", "true"},
      {"link.connected", "true"},
      {"link.video", "true"},
      {"link.camera_data", "true"},
      {"link.status", "\"connected\""},
      {"link.device_mode", "\"inspire\""},
      {"viewers", "2"},
      {"access_point", "true"},
      {"camera.recording", "true"},
      {"camera.mode", "\"video\""},
      {"camera.record_seconds", "42"},
      {"camera.iso", "\"400\""},
      {"camera.shutter", "\"500\""},
      {"camera.aperture", "2.8"},
      {"camera.ev", "-0.7"},
      {"camera.wb", "\"custom\""},
      {"camera.wb_kelvin", "3800"},
      {"gimbal.pan", "100"},
      {"gimbal.tilt", "-0.1"},
      {"zoom", "25"},
      {"focus.percent", "33"},
      {"focus.manual_available", "true"},
      {"settings_version", "1"},
      {"health", "null"},
  };
  for (const auto& e : kExpect) EXPECT_EQ(at(j, e.path), e.value) << e.path << " in " << j;
}

TEST(WebSnapshot, SilenceMeansTheDaemonIsGone) {
  WebSnapshot s;
  EXPECT_EQ(at(web_snapshot_json(s, 0), "link.status"), "\"daemon not reachable\"");
  web_snapshot_apply(&s, datagram({5, 0, 2, 0, 0, 0, 0}), 100);
  web_snapshot_apply(&s, datagram({6, 0x11, 3, 0, 0, 0, 0}), 100);
  const struct {
    int64_t now;
    const char* status;
    const char* connected;
    const char* viewers;
  } kTimes[] = {
      {100, "\"connected\"", "true", "3"},
      {100 + kWebDaemonSilenceMs, "\"connected\"", "true", "3"},
      {101 + kWebDaemonSilenceMs, "\"daemon not reachable\"", "false", "0"},
  };
  for (const auto& k : kTimes) {
    std::string j = web_snapshot_json(s, k.now);
    EXPECT_EQ(at(j, "link.status"), k.status) << k.now;
    EXPECT_EQ(at(j, "link.connected"), k.connected) << k.now;
    EXPECT_EQ(at(j, "viewers"), k.viewers) << k.now;
  }
  web_snapshot_apply(&s, datagram({5, 0, 0, 0, 0, 0, 0}), 5000);
  EXPECT_EQ(at(web_snapshot_json(s, 5000), "link.status"), "\"camera not connected\"");
}

// Values carry their age once the link or the daemon is gone; what the
// daemon never said is null, not "no".
TEST(WebSnapshot, ValuesCarryTheirAge) {
  WebSnapshot s;
  std::string j = web_snapshot_json(s, 0);
  EXPECT_EQ(at(j, "camera.age_s"), "null");
  EXPECT_EQ(at(j, "link.video"), "null");
  EXPECT_EQ(at(j, "camera.iso"), "null");
  std::vector<uint8_t> telemetry(24, 0);
  telemetry[0] = 7;
  web_snapshot_apply(&s, datagram({5, 0, 2, 0, 0, 0, 0}), 1000);
  web_snapshot_apply(&s, datagram(telemetry), 1000);
  s.exposure = "manual";
  s.files_readable = true;
  s.newest_file = "DJI_0042.MOV";
  const struct {
    int64_t now;
    bool link_drops;
    const char* age;
    const char* status;
  } kTimes[] = {
      {1000, false, "0", "\"connected\""},
      {3999, false, "0", "\"connected\""},
      // The daemon is silent: its last word is 3 s old, then 6 s.
      {4001, false, "3", "\"daemon not reachable\""},
      {7000, false, "6", "\"daemon not reachable\""},
  };
  for (const auto& k : kTimes) {
    j = web_snapshot_json(s, k.now);
    EXPECT_EQ(at(j, "camera.age_s"), k.age) << k.now;
    EXPECT_EQ(at(j, "link.status"), k.status) << k.now;
    EXPECT_EQ(at(j, "link.video"), "null") << k.now;  // never said
  }
  // The camera link drops while the daemon talks on: the age counts from
  // the camera's last report, not the daemon's datagrams.
  web_snapshot_apply(&s, datagram({5, 0, 0, 0, 0, 0, 0}), 2500);
  web_snapshot_apply(&s, datagram({5, 1, 2, 0, 0, 0, 0}), 3500);
  j = web_snapshot_json(s, 3500);
  EXPECT_EQ(at(j, "camera.age_s"), "2");
  EXPECT_EQ(at(j, "camera.known"), "false");
  EXPECT_EQ(at(j, "link.video"), "true");
  EXPECT_EQ(at(j, "camera.exposure"), "\"manual\"");
  EXPECT_EQ(at(j, "camera.files_readable"), "true");
  EXPECT_EQ(at(j, "camera.newest_file"), "\"DJI_0042.MOV\"");
  // Only the times differ: the same snapshot for the page.
  WebSnapshot later = s;
  later.last_datagram_ms += 50;
  later.camera_seen_ms += 50;
  WebSnapshot before = s;
  EXPECT_TRUE(web_snapshot_same(&before, later));
  later.viewers++;
  EXPECT_FALSE(web_snapshot_same(&before, later));
}

TEST(WebSnapshot, IgnoresWhatIsNotState) {
  WebSnapshot s;
  // Replies to other commands, video, garbage: nothing changes but the time
  // the daemon was last heard.
  EXPECT_FALSE(web_snapshot_apply(&s, text_datagram("{\"cmd\":\"wlanscan\"}"), 1));
  EXPECT_FALSE(web_snapshot_apply(&s, "not json", 1));
  EXPECT_FALSE(web_snapshot_apply(&s, datagram({99, 1, 2}), 1));
  EXPECT_EQ(s.settings_version, 0u);
  // The same report twice is one version.
  web_snapshot_apply(&s, text_datagram("{\"app\":\"wired\"}"), 2);
  web_snapshot_apply(&s, text_datagram("{\"app\":\"wired\"}"), 3);
  EXPECT_EQ(s.settings_version, 1u);
}

TEST(WebSnapshot, CodeNamesComeFromTheVocabulary) {
  const struct {
    int iso_code;
    const char* iso;
    uint32_t shutter_code;
    const char* shutter;
  } kCodes[] = {{0, "auto", 0x1E, "30s"},
                {3, "100", 0x438001, "1.67"},
                {9, "6400", 0x9F40, "8000"},
                {2, "", 0x1234, ""}};
  for (const auto& k : kCodes) {
    EXPECT_EQ(web_iso_text(k.iso_code), k.iso);
    EXPECT_EQ(web_shutter_text(k.shutter_code), k.shutter);
  }
  int kelvin = -1;
  EXPECT_EQ(web_wb_text(0x04, 0x44, &kelvin), "incandescent");
  EXPECT_EQ(kelvin, 0);
  EXPECT_EQ(web_wb_text(0x06, 20, &kelvin), "custom");
  EXPECT_EQ(kelvin, 2000);
}

}  // namespace
