#include "config/config_report.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "core/config_record.h"
#include "config/json_text.h"

namespace {

// A fake interface list: nodes and addresses owned here, handed out by the
// query seam in the order they were added.
struct FakeIfaces {
  std::deque<ifaddrs> nodes;
  std::deque<sockaddr_storage> addrs;
  std::deque<std::string> names;
  bool fail = false;

  void add(const std::string& name, const char* ipv4) {
    sockaddr_storage& ss = addrs.emplace_back();
    memset(&ss, 0, sizeof ss);
    auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
    sin->sin_family = AF_INET;
    inet_pton(AF_INET, ipv4, &sin->sin_addr);
    push(name, reinterpret_cast<sockaddr*>(&ss));
  }
  void add6(const std::string& name) {
    sockaddr_storage& ss = addrs.emplace_back();
    memset(&ss, 0, sizeof ss);
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
    sin6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, "fe80::1", &sin6->sin6_addr);
    push(name, reinterpret_cast<sockaddr*>(&ss));
  }
  void add_none(const std::string& name) { push(name, nullptr); }
  void push(const std::string& name, sockaddr* addr) {
    ifaddrs& n = nodes.emplace_back();
    memset(&n, 0, sizeof n);
    n.ifa_name = names.emplace_back(name).data();
    n.ifa_addr = addr;
    if (nodes.size() > 1) nodes[nodes.size() - 2].ifa_next = &n;
  }
};

FakeIfaces* g_fake = nullptr;
int fake_query(ifaddrs** out) {
  if (g_fake->fail) return -1;
  *out = g_fake->nodes.empty() ? nullptr : &g_fake->nodes.front();
  return 0;
}
void fake_release(ifaddrs*) {}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(config_record(), 0, sizeof(ConfigRecord));
    g_fake = &fake;
    iface_set_query(fake_query, fake_release);
  }
  void TearDown() override {
    iface_set_query(nullptr, nullptr);
    g_fake = nullptr;
    memset(config_record(), 0, sizeof(ConfigRecord));
  }
  FakeIfaces fake;
};

void fill_known_record() {
  ConfigRecord* c = config_record();
  c->disabled = 1;  // never reported
  c->camera_type = 2;
  c->device_mode = 1;
  c->cooperative_mode = 1;
  c->control_enabled = 1;
  c->rc_input_enabled = 1;
  CFG_TEXT_SET(c->rc_input_mode, "ppm");
  CFG_TEXT_SET(c->rc2_input_mode, "sbus");
  CFG_TEXT_SET(c->rc_input_map, "pan,tilt,,zoom");
  c->rc_input_speed_pan = 50;
  c->rc_input_speed_tilt = -7;
  c->rc_input_speed_dutch = 100;
  c->rc_input_inverse_pan = 1;
  c->rc_input_inverse_tilt = 0;
  c->rc_input_inverse_dutch = 1;
  c->rc_input_exp = 1;
  c->rc_input_abs = 0;
  c->i2c_input_enabled = 1;     // never reported
  c->i2c_input_speed_pan = 77;  // never reported
  c->disable_video_stream = 1;
  c->video_hflip = 0;
  c->video_vflip = 1;
  c->video_fix = 1;
  c->hdmi_enabled = 1;
  c->osd_border_width = 200;
  c->osd_border_height = 12;
  c->osd_top_offset = 3;
  c->osd_bottom_offset = 255;
  c->osd_enabled = 1;
  c->hud_enabled = 0;
  c->internal_camera_enabled = 1;
  c->internal_camera_fullscreen = 0;
  c->focus_assistant_enabled = 1;
  c->shield_enabled = 1;  // never reported
  c->shield_timeout = 30000;
  c->apstate = 1;
  CFG_TEXT_SET(c->ap_iface, "wifi0");
  CFG_TEXT_SET(c->ap_ssid, "Pelq\"AP");
  CFG_TEXT_SET(c->ap_psk, "back\\slash");
  c->ap_mode = 5;
  c->ap_channel = 36;
  CFG_TEXT_SET(c->ap_country, "US");
  CFG_TEXT_SET(c->wifi_iface, "wlan0");
  CFG_TEXT_SET(c->wifi_ssid, "Caf\xc3\xa9");
  CFG_TEXT_SET(c->wifi_psk, "pw");
  CFG_TEXT_SET(c->version, "0.14.11");
}

TEST_F(ReportTest, WholeReportForKnownRecord) {
  fill_known_record();
  fake.add("lo", "127.0.0.1");
  fake.add("eth0", "192.168.1.5");
  fake.add_none("can0");
  fake.add6("wlan0");
  fake.add("wlan0", "10.0.0.1");
  fake.add("wlan0", "10.0.0.2");

  const std::string expected =
      "{\"app\":\"wired\",\"camtype\":2,\"dmode\":1,\"cmode\":1,\"ctrl_en\":1,\"rcin_en\":1,"
      "\"rcin_mode\":\"ppm\",\"rcin2_mode\":\"sbus\",\"rcin_map\":\"pan,tilt,,zoom\","
      "\"rcin_pan\":50,\"rcin_tilt\":-7,\"rcin_dutch\":100,\"rcin_paninv\":1,\"rcin_tiltinv\":0,"
      "\"rcin_dutchinv\":1,\"rcin_exp\":1,\"rcin_abs\":0,\"v_dis\":1,\"v_hf\":0,\"v_vf\":1,"
      "\"v_f\":1,\"hdmistate\":1,\"osdbrdw\":200,\"osdbrdh\":12,\"osdtof\":3,\"osdbof\":255,"
      "\"osd_en\":1,\"hud_en\":0,\"ic_en\":1,\"ic_fs\":0,\"fa_en\":1,\"apstate\":1,"
      "\"ap_iface\":\"1\",\"ap_ssid\":\"Pelq\\\"AP\",\"ap_psk\":\"back\\\\slash\",\"ap_mode\":5,"
      "\"ap_channel\":36,\"ap_country\":\"US\",\"lan_iface\":\"2\",\"lan_ssid\":\"Caf\xc3\xa9\","
      "\"lan_psk\":\"pw\",\"cam_iface\":\"\",\"cam_ssid\":\"\",\"cam_psk\":\"\","
      "\"version\":\"0.14.11\",\"ifaces\":[{\"name\":\"eth0\",\"addr\":\"192.168.1.5\"},"
      "{\"name\":\"wlan0\",\"addr\":\"10.0.0.1\"},{\"name\":\"wlan0\",\"addr\":\"10.0.0.2\"}]}";
  std::string report = config_report_build();
  EXPECT_EQ(report, expected);

  // A viewer's JSON parser sees exactly the stored texts.
  cJSON* root = cJSON_Parse(report.c_str());
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(cJSON_GetObjectItem(root, "ap_ssid")->valuestring, "Pelq\"AP");
  EXPECT_STREQ(cJSON_GetObjectItem(root, "ap_psk")->valuestring, "back\\slash");
  EXPECT_STREQ(cJSON_GetObjectItem(root, "lan_ssid")->valuestring, "Caf\xc3\xa9");
  EXPECT_STREQ(cJSON_GetObjectItem(root, "ap_iface")->valuestring, "1");
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(root, "ifaces")), 3);
  EXPECT_EQ(cJSON_GetObjectItem(root, "shield_timeout"), nullptr);
  EXPECT_EQ(cJSON_GetObjectItem(root, "disabled"), nullptr);
  // 46 members, in the protocol's order.
  EXPECT_EQ(cJSON_GetArraySize(root), 46);
  EXPECT_STREQ(root->child->string, "app");
  cJSON_Delete(root);
}

TEST_F(ReportTest, DefaultsInterfaceCodesAndEmptyList) {
  ConfigRecord* c = config_record();
  CFG_TEXT_SET(c->rc_input_mode, "pwm");
  CFG_TEXT_SET(c->rc2_input_mode, "sbus");
  CFG_TEXT_SET(c->wifi_iface, "wlan0");
  CFG_TEXT_SET(c->ap_iface, "wlan1");
  fake.add("lo", "127.0.0.1");
  std::string r = config_report_build();
  EXPECT_NE(r.find("\"ap_iface\":\"0\","), std::string::npos);
  EXPECT_NE(r.find("\"lan_iface\":\"2\","), std::string::npos);
  EXPECT_NE(r.find("\"rcin_map\":\"\","), std::string::npos);
  EXPECT_EQ(r.substr(r.size() - 12), "\"ifaces\":[]}");

  fake.fail = true;
  r = config_report_build();
  EXPECT_EQ(r.substr(r.size() - 12), "\"ifaces\":[]}");

  EXPECT_EQ(iface_code("wlan0"), 2);
  EXPECT_EQ(iface_code("wifi0"), 1);
  EXPECT_EQ(iface_code(""), 0);
  EXPECT_EQ(iface_code("wlan0 "), 0);
}

TEST_F(ReportTest, InterfaceListStopsAtWholeObject) {
  // Names with quotes (Linux allows them) are escaped too.
  for (int i = 0; i < 100; i++) fake.add("e\"th" + std::to_string(i), "10.1.2.3");
  std::string list = iface_list();
  EXPECT_LE(list.size(), kIfaceListMax);
  ASSERT_FALSE(list.empty());
  std::string wrapped = "[" + list + "]";
  cJSON* arr = cJSON_Parse(wrapped.c_str());
  ASSERT_NE(arr, nullptr);
  int n = cJSON_GetArraySize(arr);
  EXPECT_GT(n, 10);
  EXPECT_LT(n, 100);
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetArrayItem(arr, n - 1), "name")->valuestring,
               ("e\"th" + std::to_string(n - 1)).c_str());
  cJSON_Delete(arr);

  std::string report = config_report_build();
  cJSON* root = cJSON_Parse(report.c_str());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(root, "ifaces")), n);
  cJSON_Delete(root);
}

TEST_F(ReportTest, LongestTextsStayValidJsonInOneMessage) {
  ConfigRecord* c = config_record();
  std::string quotes(600, '"');
  CFG_TEXT_SET(c->rc_input_mode, quotes.c_str());
  CFG_TEXT_SET(c->rc2_input_mode, quotes.c_str());
  CFG_TEXT_SET(c->rc_input_map, quotes.c_str());
  CFG_TEXT_SET(c->ap_ssid, quotes.c_str());
  CFG_TEXT_SET(c->ap_psk, std::string(600, '\\').c_str());
  CFG_TEXT_SET(c->ap_country, quotes.c_str());
  CFG_TEXT_SET(c->wifi_ssid, quotes.c_str());
  CFG_TEXT_SET(c->wifi_psk, quotes.c_str());
  CFG_TEXT_SET(c->version, quotes.c_str());
  for (int32_t* f : {&c->rc_input_speed_pan, &c->rc_input_speed_tilt, &c->rc_input_speed_dutch,
                     &c->rc_input_inverse_pan, &c->rc_input_inverse_tilt,
                     &c->rc_input_inverse_dutch, &c->ap_mode, &c->ap_channel})
    *f = INT32_MIN;
  for (int i = 0; i < 100; i++) fake.add("eth" + std::to_string(i), "192.168.100.200");

  std::string r = config_report_build();
  EXPECT_LE(r.size(), kReportMax);
  cJSON* root = cJSON_Parse(r.c_str());
  ASSERT_NE(root, nullptr) << r;
  EXPECT_EQ(strlen(cJSON_GetObjectItem(root, "rcin_map")->valuestring), 511u);
  EXPECT_EQ(std::string(cJSON_GetObjectItem(root, "ap_psk")->valuestring), std::string(255, '\\'));
  EXPECT_EQ(cJSON_GetObjectItem(root, "rcin_pan")->valuedouble, INT32_MIN);
  // Whatever room is left holds whole interface objects.
  int n = cJSON_GetArraySize(cJSON_GetObjectItem(root, "ifaces"));
  EXPECT_GT(n, 0);
  EXPECT_LT(n, 100);
  EXPECT_GT(r.size() + 48, kReportMax);  // one more object would not have fitted
  cJSON_Delete(root);
}

TEST_F(ReportTest, ConcurrentBuildsNeverMix) {
  fill_known_record();
  fake.add("eth0", "192.168.1.5");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  auto builder = [&] {
    for (int i = 0; i < 300; i++) {
      std::string r = config_report_build();
      cJSON* root = cJSON_Parse(r.c_str());
      if (!root) bad++;
      cJSON_Delete(root);
    }
  };
  std::thread writer([&] {
    ConfigRecord* c = config_record();
    for (int i = 0; !stop.load(); i++) {
      CFG_TEXT_SET(c->ap_ssid, (i & 1) ? "a\"b" : "longer \\ text \"quoted\"");
    }
  });
  std::thread a(builder), b(builder);
  a.join();
  b.join();
  stop = true;
  writer.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(JsonText, Escapes) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"abc", "abc"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"tab\there\x1f", "tab\\u0009here\\u001f"},
      {"\xc3\xa9\x7f/", "\xc3\xa9\x7f/"},
      {"", ""},
  };
  for (const Row& r : rows) {
    std::string out;
    json_escape_append(out, r.in);
    EXPECT_EQ(out, r.out) << r.in;
  }
  std::string out;
  json_escape_append(out, nullptr);
  EXPECT_EQ(out, "");
}

}  // namespace
