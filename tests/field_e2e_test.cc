// Field diagnostics end to end: the daemon in --sim --capture records what a
// viewer's record command caused; pqw-decode names those packets; pqw-camsim
// --replay of that capture brings a second daemon's HudBlock to the same
// camera state; Wireshark's tshark with the camera-link dissector reads the
// same capture and names the same packets.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/hud_block.h"
#include "link/link_decode.h"
#include "testing/e2e_support.h"

namespace {

const std::string kDissector =
    std::string(PQW_SOURCE_DIR) + "/packaging/wireshark/pqw_camera_link.lua";

off_t file_size(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) out.push_back(line);
  return out;
}

// The output of a shell command line (tshark is not one of our tools).
std::string run_shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "re");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The camera state both daemons must agree on.
struct CameraState {
  uint8_t status, mode, iso;
  uint32_t shutter;
  double aperture;
  bool operator==(const CameraState&) const = default;
};

CameraState camera_state(const uint8_t* hud) {
  return {hud_get_u8(hud, HUD_CAMERA_STATUS), hud_get_u8(hud, HUD_CAMERA_MODE),
          hud_get_u8(hud, HUD_CAMSTATE_B16), hud_get_u32(hud, HUD_SHUTTER_CODE),
          hud_get_f64(hud, HUD_APERTURE)};
}

bool recording(const uint8_t* hud) {
  return hud_get_u8(hud, HUD_CAMERA_STATUS) >> 6 == 2 && hud_get_u8(hud, HUD_CAMERA_MODE) == 1;
}

TEST(FieldE2e, CaptureDecodeReplayAndDissect) {
  char tmpl[] = "/tmp/pqw-field-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string cap = dir + "/rig.pcap";

  // 1. The rig: a daemon capturing, a viewer pressing record.
  CameraState before{};
  {
    E2eDaemonGuard a;
    ASSERT_TRUE(e2e_start(&a.d, {"--capture", cap}));
    ASSERT_TRUE(e2e_wait_output(a.d, "data connected", 10000)) << e2e_stderr(a.d);
    const uint8_t* hud = nullptr;
    ASSERT_TRUE(e2e_wait_until([&] { return (hud = e2e_hud_map(a.d)) != nullptr; }, 3000));
    E2eViewer v = e2e_viewer_open();
    ASSERT_TRUE(e2e_viewer_register(v, a.d.viewer_port, true));
    std::string record = "{\"cmd\":\"record\",\"param\":\"start\"}";
    ASSERT_TRUE(e2e_viewer_send(v, a.d.viewer_port, reinterpret_cast<const uint8_t*>(record.data()),
                                record.size()));
    EXPECT_TRUE(e2e_wait_until([&] { return recording(hud); }, 5000));
    // A few more ticks of records into the file, then the state they show.
    off_t at = file_size(cap);
    EXPECT_TRUE(e2e_wait_until([&] { return file_size(cap) > at + 64 * 32; }, 5000));
    before = camera_state(hud);
    e2e_viewer_close(&v);
    e2e_unmap(hud, kHudSize);
  }
  ASSERT_GT(file_size(cap), 24);

  // 2. pqw-decode names the record press and the telemetry that followed it.
  int status = 0;
  std::string json = e2e_run_tool("pqw-decode", {"--json", cap}, &status);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << json;
  bool press = false, recording_after_press = false;
  size_t packets = 0;
  for (const std::string& line : lines_of(json)) {
    cJSON* o = cJSON_Parse(line.c_str());
    ASSERT_NE(o, nullptr) << line;
    const cJSON* name = cJSON_GetObjectItem(o, "name");
    const cJSON* bytes = cJSON_GetObjectItem(o, "bytes");
    const char* n = cJSON_IsString(name) ? name->valuestring : "";
    if (cJSON_GetObjectItem(o, "kind") &&
        std::string(cJSON_GetObjectItem(o, "kind")->valuestring) == "packet")
      packets++;
    // The button packet with byte 11 = 0C: record pressed.
    if (!strcmp(n, "button") && cJSON_IsString(bytes) &&
        std::string(bytes->valuestring).substr(22, 2) == "0c")
      press = true;
    const cJSON* fields = cJSON_GetObjectItem(o, "fields");
    const cJSON* rec = fields ? cJSON_GetObjectItem(fields, "recording") : nullptr;
    if (press && !strcmp(n, "telemetry") && rec && rec->valuedouble == 1)
      recording_after_press = true;
    cJSON_Delete(o);
  }
  EXPECT_TRUE(press) << json.substr(0, 4000);
  EXPECT_TRUE(recording_after_press);
  std::string text = e2e_run_tool("pqw-decode", {"--filter", "01:01", cap}, &status);
  EXPECT_NE(text.find("daemon->camera 09->01"), std::string::npos) << text;
  EXPECT_EQ(text.find("telemetry"), std::string::npos) << text;

  // 3. The capture replayed into a second daemon gives the same camera state.
  {
    E2eDaemonGuard b;
    ASSERT_TRUE(e2e_start(&b.d, {"--replay", cap}));
    const uint8_t* hud = nullptr;
    ASSERT_TRUE(e2e_wait_until([&] { return (hud = e2e_hud_map(b.d)) != nullptr; }, 5000));
    EXPECT_TRUE(e2e_wait_until([&] { return recording(hud); }, 20000)) << e2e_stderr(b.d);
    std::string summary;
    EXPECT_TRUE(e2e_wait_until(
        [&] {
          return (summary = slurp(b.d.dir + "/camsim.out")).find("replayed ") != std::string::npos;
        },
        20000))
        << summary;
    EXPECT_TRUE(camera_state(hud) == before);
    std::smatch m;
    EXPECT_TRUE(
        std::regex_search(summary, m, std::regex("replayed (\\d+) of (\\d+) camera frames")) &&
        m[1] == m[2])
        << summary;
    e2e_unmap(hud, kHudSize);
  }

  // 4. tshark with the dissector: the same packets, named, CRCs good.
  if (access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark is not installed";
  std::string fields = run_shell("tshark -X lua_script:" + kDissector + " -r " + cap +
                                 " -Y pqwlink.name -T fields -e pqwlink.name -e pqwlink.crc16_ok"
                                 " -e pqwlink.header_crc_ok 2>/dev/null");
  std::vector<std::string> rows = lines_of(fields);
  EXPECT_EQ(rows.size(), packets) << fields.substr(0, 2000);
  size_t buttons = 0;
  for (const std::string& row : rows) {
    EXPECT_NE(row.find("\t1\t1"), std::string::npos) << row;
    if (row.rfind("button\t", 0) == 0) buttons++;
  }
  EXPECT_GT(buttons, 0u);
  std::string verbose =
      run_shell("tshark -X lua_script:" + kDissector + " -r " + cap + " -V -c 40 2>/dev/null");
  EXPECT_NE(verbose.find("Camera link packet"), std::string::npos);
  EXPECT_NE(verbose.find("Command: gimbal query"), std::string::npos) << verbose.substr(0, 3000);

  for (const char* f : {"/rig.pcap"}) unlink((dir + f).c_str());
  rmdir(dir.c_str());
}

// The dissector's name table is the daemon's: same (set, id, name) rows.
TEST(FieldE2e, DissectorNamesAreTheDaemons) {
  std::string lua = slurp(kDissector);
  std::regex row("\\{0x([0-9A-F]{2}), 0x([0-9A-F]{2}), \"([^\"]*)\"\\}");
  std::vector<std::string> theirs, ours;
  for (auto it = std::sregex_iterator(lua.begin(), lua.end(), row); it != std::sregex_iterator();
       ++it)
    theirs.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str());
  size_t n = 0;
  const LinkCommandName* names = link_command_names(&n);
  char buf[128];
  for (size_t i = 0; i < n; i++) {
    snprintf(buf, sizeof buf, "%02X %02X %s", names[i].set, names[i].id, names[i].name);
    ours.push_back(buf);
  }
  EXPECT_EQ(theirs, ours);
}

}  // namespace
