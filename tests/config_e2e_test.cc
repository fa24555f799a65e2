// The configuration commands through the real daemon in --sim: a viewer's
// "configrequest" comes back as the report, an "updateparam" rewrites the
// configuration file under the simulation's root and restarts the right
// process, and "restart" ends the daemon with status 3.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include "testing/sandbox.h"
#include "testing/e2e_support.h"

namespace {

// Sends one command with pqw-viewer (registered, data only) and returns the
// first JSON reply whose "cmd" or "app" member matches `key`=`value`, or null.
cJSON* viewer_ask(const E2eDaemon& d, const std::string& command, const char* key,
                  const char* value) {
  for (int attempt = 0; attempt < 3; attempt++) {
    int status = -1;
    std::string out = e2e_run_tool("pqw-viewer",
                                   {"--daemon-port", std::to_string(d.viewer_port), "--data-only",
                                    "--send", command, "--seconds", "2"},
                                   &status);
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      cJSON* o = cJSON_Parse(line.c_str());
      cJSON* j = cJSON_GetObjectItem(o, "json");
      cJSON* m = cJSON_GetObjectItem(j, key);
      if (cJSON_IsString(m) && std::string(m->valuestring) == value) {
        cJSON* reply = cJSON_DetachItemFromObject(o, "json");
        cJSON_Delete(o);
        return reply;
      }
      cJSON_Delete(o);
    }
  }
  return nullptr;
}

void viewer_tell(const E2eDaemon& d, const std::string& command) {
  int status = -1;
  e2e_run_tool("pqw-viewer",
               {"--daemon-port", std::to_string(d.viewer_port), "--no-register", "--send", command,
                "--seconds", "0"},
               &status);
}

TEST(ConfigE2e, ReportAndSettingsThroughTheDaemon) {
  E2eDaemonGuard g;
  e2e_write_config(&g.d, "control_enabled=0\nosd_border_width=3\nrc_input_map=pan,,tilt\n");
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "GPIO init", 10000)) << e2e_stderr(g.d);

  cJSON* report = viewer_ask(g.d, "{\"cmd\":\"configrequest\"}", "app", "wired");
  ASSERT_NE(report, nullptr) << e2e_stderr(g.d);
  EXPECT_EQ(cJSON_GetObjectItem(report, "osdbrdw")->valueint, 3);
  EXPECT_STREQ(cJSON_GetObjectItem(report, "rcin_map")->valuestring, "pan,,tilt");
  EXPECT_STREQ(cJSON_GetObjectItem(report, "version")->valuestring, "0.14.11");
  EXPECT_TRUE(cJSON_IsArray(cJSON_GetObjectItem(report, "ifaces")));
  EXPECT_EQ(cJSON_GetArraySize(report), 46);
  cJSON_Delete(report);
  EXPECT_TRUE(e2e_wait_output(g.d, "config request", 2000));

  const std::string conf = g.d.dir + "/root/boot/pelquarinthos-wired.conf";
  const std::string log = g.d.dir + "/sandbox/commands.log";
  viewer_tell(
      g.d, "{\"cmd\":\"updateparam\",\"name\":\"osd_borders\",\"value\":\"300\",\"value2\":\"7\"}");
  EXPECT_TRUE(e2e_wait_until(
      [&] { return test_read_file(conf).find("\r\nosd_border_width=44\r\n") != std::string::npos; },
      5000))
      << test_read_file(conf);
  EXPECT_NE(test_read_file(conf).find("\r\nosd_border_height=7\r\n"), std::string::npos);
  EXPECT_TRUE(e2e_wait_until(
      [&] { return test_read_file(log).find("killall -q display hud\n") != std::string::npos; },
      5000));
  EXPECT_TRUE(e2e_wait_output(g.d, "Need to update param osd_borders to 300", 2000));

  // A network name with a double quote cannot be carried by the file (its
  // reader drops them): refused with the reason, nothing saved.
  viewer_tell(g.d,
              "{\"cmd\":\"updateparam\",\"name\":\"wifi\",\"value4\":\"2\",\"value5\":\"my "
              "\\\"net\",\"value6\":\"pw-12345\",\"value7\":\"7\",\"value8\":\"ap\",\"value9\":"
              "\"appw-12345\",\"value10\":\"5\",\"value11\":\"36\",\"value12\":\"US\"}");
  EXPECT_TRUE(e2e_wait_output(g.d, "setting wifi refused, nothing changed: wifi_ssid", 5000));
  // A quote and a backslash: stored as sent, written quoted to the file, and
  // reported as valid JSON that decodes to it.
  viewer_tell(g.d,
              "{\"cmd\":\"updateparam\",\"name\":\"wifi\",\"value4\":\"2\",\"value5\":\"my "
              "'net\\\\\",\"value6\":\"pw-12345\",\"value7\":\"7\",\"value8\":\"ap\",\"value9\":"
              "\"appw-12345\",\"value10\":\"5\",\"value11\":\"36\",\"value12\":\"US\"}");
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        return test_read_file(conf).find("\r\nwifi_ssid=\"my 'net\\\"\r\n") != std::string::npos;
      },
      5000))
      << test_read_file(conf);
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        return test_read_file(log).find("touch " + g.d.dir + "/root/run/wlan.update\n") !=
               std::string::npos;
      },
      5000));
  EXPECT_EQ(e2e_count(test_read_file(log), "/root/run/wlan.update\n"), 1u);
  EXPECT_EQ(e2e_count(e2e_stdout(g.d) + e2e_stderr(g.d), "pw-12345"), 0u);
  report = viewer_ask(g.d, "{\"cmd\":\"configrequest\"}", "app", "wired");
  ASSERT_NE(report, nullptr);
  EXPECT_STREQ(cJSON_GetObjectItem(report, "lan_ssid")->valuestring, "my 'net\\");
  EXPECT_STREQ(cJSON_GetObjectItem(report, "lan_iface")->valuestring, "2");
  EXPECT_EQ(cJSON_GetObjectItem(report, "ap_mode")->valueint, 5);
  EXPECT_EQ(cJSON_GetObjectItem(report, "osdbrdw")->valueint, 44);
  cJSON_Delete(report);

  // "restart" asks the service to start the daemon again: exit status 3.
  viewer_tell(g.d, "{\"cmd\":\"restart\"}");
  int status = 0;
  EXPECT_TRUE(e2e_wait_until([&] { return !e2e_running(&g.d, &status); }, 5000));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST(ConfigE2e, RestartWhileEveryThreadRunsIsClean) {
  // The exit happens under the supervisor, the camera link and the viewer
  // threads; a sanitizer build reports any use of what the exit tore down.
  for (int i = 0; i < 5; i++) {
    SCOPED_TRACE(i);
    E2eDaemonGuard g;
    e2e_write_config(&g.d, "control_enabled=1\nap_iface=wlan0\n");
    ASSERT_TRUE(e2e_start(&g.d));
    ASSERT_TRUE(e2e_wait_output(g.d, "Init FTP", 10000)) << e2e_stderr(g.d);
    viewer_tell(g.d, "{\"cmd\":\"restart\"}");
    int status = 0;
    ASSERT_TRUE(e2e_wait_until([&] { return !e2e_running(&g.d, &status); }, 10000));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << e2e_stderr(g.d);
    for (const char* report : {"Sanitizer", "runtime error", "LeakSanitizer"})
      EXPECT_EQ(e2e_stderr(g.d).find(report), std::string::npos) << e2e_stderr(g.d);
  }
}

}  // namespace
