#include "config/wifi_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/sandbox.h"

namespace {

TEST(WifiScanLine, Rows) {
  struct Row {
    const char* line;  // without its line feed
    bool has;
    const char* name;
  } rows[] = {
      {"                    ESSID:\"Home\"", true, "Home"},
      {"                    ESSID:\"\"", true, ""},
      {"ESSID:\"a\"b\"", true, "a\"b"},
      {"ESSID:\"a,b\"", true, "a,b"},
      {"ESSID:x", true, ""},
      {"ESSID:", true, ""},
      {"ESSID:\"x", true, ""},
      {"ESSID:\"xy", true, "x"},
      {"          Cell 01 - Address: 00:11:22:33:44:55", false, ""},
      {"                    Channel:6", false, ""},
      {"ESSID", false, ""},
      {"", false, ""},
  };
  for (const Row& r : rows) {
    std::string name = "unchanged";
    EXPECT_EQ(wifi_scan_line(r.line, strlen(r.line), &name), r.has) << r.line;
    if (r.has) {
      EXPECT_EQ(name, r.name) << r.line;
    }
  }
}

class WifiScanTest : public ::testing::Test {
 protected:
  TestSandbox box;
  // iwlist prints the canned text of out.txt and exits with `status`.
  void fake_iwlist(const std::string& output, int status = 0) {
    box.write("out.txt", output);
    box.tool("iwlist", "/bin/cat '" + box.dir + "/out.txt'\nexit " + std::to_string(status));
  }
  std::vector<std::string> scan(const char* iface) {
    std::vector<std::string> names;
    wifi_scan(iface, &names);
    return names;
  }
};

using Names = std::vector<std::string>;

TEST_F(WifiScanTest, NamesInToolOrder) {
  fake_iwlist(
      "wlan0     Scan completed :\n"
      "          Cell 01 - Address: 00:11:22:33:44:55\n"
      "                    Channel:6\n"
      "                    ESSID:\"Home\"\n"
      "          Cell 02 - Address: 00:11:22:33:44:56\n"
      "                    ESSID:\"\"\n"
      "                    ESSID:\"\"\n"
      "                    ESSID:\"Say \"hi\"\"\n"
      "                    ESSID:\"Office\"\n"
      "                    ESSID:\"Home\"\n"
      "                    ESSID:\"Last\"");  // no line feed at the end
  EXPECT_EQ(scan("wlan0"), (Names{"Home", "", "", "Say \"hi\"", "Office", "Home", "Last"}));
  EXPECT_EQ(box.take_commands(), (Names{"iwlist wlan0 scan 2>/dev/null"}));

  EXPECT_EQ(scan(""), (Names{"Home", "", "", "Say \"hi\"", "Office", "Home", "Last"}));
  EXPECT_EQ(box.take_commands(), (Names{"iwlist  scan 2>/dev/null"}));
}

TEST_F(WifiScanTest, NothingFromSilentFailingOrMissingTool) {
  fake_iwlist("");
  EXPECT_TRUE(scan("wlan0").empty());
  fake_iwlist("wlan0     Interface doesn't support scanning.\n", 255);
  EXPECT_TRUE(scan("wlan0").empty());
  unlink((box.dir + "/bin/iwlist").c_str());
  EXPECT_TRUE(scan("wifi0").empty());
}

TEST_F(WifiScanTest, OverlongLineIsSkippedNotSplit) {
  std::string n1014(1014, 'n');
  std::string line1022 = "ESSID:\"" + n1014 + "\"";  // exactly the longest line
  ASSERT_EQ(line1022.size(), kWifiLineMax);
  std::string line1023 = "ESSID:\"" + n1014 + "x\"";
  // Split at the limit, this line's tail would read as a second network.
  std::string evil = "ESSID:\"" + std::string(1500, 'a') + "ESSID:\"evil\"";
  fake_iwlist("ESSID:\"Home\"\n" + evil + "\n" + line1023 + "\n" + line1022 + "\n" +
              std::string(5000, 'z') + "\nESSID:\"Office\"\n");
  EXPECT_EQ(scan("wlan0"), (Names{"Home", n1014, "Office"}));
}

TEST_F(WifiScanTest, ListIsBoundedAtWholeNames) {
  std::string out;
  std::string name(999, 'w');
  for (int i = 0; i < 100; i++) out += "ESSID:\"" + name + "\"\n";
  fake_iwlist(out);
  Names names = scan("wlan0");
  size_t total = 0;
  for (const auto& n : names) {
    EXPECT_EQ(n, name);
    total += n.size() + 1;
  }
  EXPECT_EQ(names.size(), 60u);  // 60 * 1000 - 1 = 59999
  EXPECT_LE(total - 1, kWifiListMax);
}

}  // namespace
