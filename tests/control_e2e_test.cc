// Camera control end to end: the real daemon in --sim with pqw-camsim on the
// simulated bus. Commands sent with the real pqw-viewer reach the camera side
// as the expected packets (camsim's log, one JSON line per packet), their
// effect shows in the simulator's state, a HUD mailbox command runs once, and
// the RC value report goes out about every 400 ms while RC input is enabled.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/hud_block.h"
#include "testing/sandbox.h"
#include "platform/shm.h"
#include "testing/e2e_support.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  return out;
}

// One packet as camsim logs it (decimal fields, payload in lower-case hex).
struct Expect {
  int sender, receiver, type, set, id, length;
  const char* payload;
};

std::string fields(const Expect& e) {
  char buf[512];
  snprintf(buf, sizeof buf,
           "\"sender\":%d,\"receiver\":%d,\"sequence\":SEQ,\"type\":%d,\"set\":%d,\"id\":%d,"
           "\"length\":%d,\"payload\":\"%s\"",
           e.sender, e.receiver, e.type, e.set, e.id, e.length, e.payload);
  return buf;
}

// True when the expected packets appear in this order among the lines from
// `from` on (other traffic, keep-alives and replies, may come in between);
// *end gets the line after the last match.
bool find_in_order(const std::vector<std::string>& lines, size_t from,
                   const std::vector<Expect>& expected, size_t* end) {
  size_t i = from;
  for (const Expect& e : expected) {
    std::string want = fields(e);
    size_t cut = want.find("SEQ");
    std::string head = want.substr(0, cut), tail = want.substr(cut + 3);
    for (;; i++) {
      if (i >= lines.size()) return false;
      size_t h = lines[i].find(head);
      if (h != std::string::npos && lines[i].find(tail, h + head.size()) != std::string::npos)
        break;
    }
    i++;
  }
  *end = i;
  return true;
}

class ControlE2e : public ::testing::Test {
 protected:
  E2eDaemon d;
  uint16_t camsim_control = 0;

  void SetUp() override {
    ASSERT_TRUE(e2e_start(&d));
    ASSERT_TRUE(e2e_wait_output(d, "data connected", 10000)) << e2e_stderr(d);
    camsim_control = e2e_camsim_control_port(d, 3000);
    ASSERT_NE(camsim_control, 0) << test_read_file(d.dir + "/camsim.out");
  }
  void TearDown() override { e2e_stop(&d); }

  std::vector<std::string> log() { return lines_of(test_read_file(d.dir + "/camsim.log")); }

  // The real viewer tool sends, without registering, and ends at once.
  void viewer(const std::vector<std::string>& args) {
    std::vector<std::string> a = {"--daemon-port", std::to_string(d.viewer_port), "--no-register",
                                  "--seconds", "0"};
    a.insert(a.end(), args.begin(), args.end());
    int status = -1;
    e2e_run_tool("pqw-viewer", a, &status);
    ASSERT_EQ(status, 0);
  }

  std::string camsim_state() { return e2e_camsim_command(camsim_control, "state"); }
};

struct Case {
  std::vector<std::string> args;  // pqw-viewer arguments
  std::vector<Expect> packets;
};

TEST_F(ControlE2e, ViewerCommandsReachTheCameraByteForByte) {
  const std::string long_iso =
      R"({"cmd":"iso","param":"800","pad":")" + std::string(600, 'x') + "\"}";
  const Case cases[] = {
      {{"--send", R"({"cmd":"iso","param":"400"})"}, {{2, 1, 64, 2, 42, 14, "05"}}},
      {{"--send", R"({"cmd":"wb","param":"custom","value1":"5600"})"},
       {{2, 1, 64, 2, 44, 15, "0638"}}},
      {{"--send", R"({"cmd":"shutter","param":"1000"})"}, {{2, 1, 64, 2, 40, 17, "01e88300"}}},
      {{"--send", R"({"cmd":"exposure","param":"point","value1":"300"})"},
       {{2, 1, 64, 2, 104, 14, "00"}, {2, 1, 64, 2, 50, 14, "2c"}}},
      {{"--send", R"({"cmd":"video_resolution","param":"1920x1080@60"})"},
       {{2, 1, 64, 2, 24, 18, "0a06000000"}, {2, 1, 64, 2, 175, 15, "0a06"}}},
      {{"--send", R"({"cmd":"horizont","param":"calibrate"})"},
       {{2, 4, 64, 4, 7, 14, "00"},
        {9, 4, 32, 4, 1, 21, "0004000400048000"},
        {2, 4, 64, 4, 8, 13, ""}}},
      {{"--send", R"({"cmd":"shottype","param":"timelapse","value1":"3","value2":"600"})"},
       {{2, 1, 64, 2, 106, 19, "06ff02ff3200"},
        {2, 1, 64, 2, 108, 28, "0104001e0058020000f9ff00000000"}}},
      {{"--send", R"({"cmd":"time","value1":"20240131235959"})"},
       {{2, 1, 64, 2, 84, 20, "e807011f173b3b"}}},
      {{"--send", R"({"cmd":"focus","param":"point","value1":"0.25","value2":"0.75"})"},
       {{2, 1, 64, 2, 36, 14, "01"},
        {2, 1, 64, 2, 250, 14, "00"},
        {2, 1, 64, 2, 48, 21, "0000803e0000403f"}}},
      // Far past 255 characters: arrives whole.
      {{"--send", long_iso}, {{2, 1, 64, 2, 42, 14, "06"}}},
      {{"--send", R"({"cmd":"playback","param":"enter"})"},
       {{9, 1, 0, 1, 1, 23, "0300000000910d00009f"},
        {9, 4, 0, 1, 1, 23, "0300000000910d00009f"},
        {9, 1, 0, 1, 1, 23, "0300000000910d00009f"},
        {9, 4, 0, 1, 1, 23, "0300000000910d00009f"},
        {9, 1, 0, 1, 1, 23, "0300000000910d00009f"},
        {9, 4, 0, 1, 1, 23, "0300000000910d00009f"},
        {9, 1, 0, 1, 1, 23, "0000000000910d00009c"},
        {9, 4, 0, 1, 1, 23, "0000000000910d00009c"}}},
      // Motion messages (type 5): angles pan 100, tilt -50; then a zoom move.
      {{"--raw", "05 00 6400 ceff"}, {{2, 4, 64, 4, 10, 23, "64000000ceff6400e004"}}},
      {{"--raw", "05 02 fdff 0100"}, {{2, 1, 64, 2, 184, 17, "01480100"}}},
  };
  size_t from = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back().substr(0, 80));
    viewer(c.args);
    size_t end = 0;
    bool found = e2e_wait_until([&] { return find_in_order(log(), from, c.packets, &end); }, 3000);
    ASSERT_TRUE(found) << test_read_file(d.dir + "/camsim.log").substr(0, 20000);
    from = end;
  }

  // The camera side took them: its state, as its later status reports it.
  std::string state = camsim_state();
  EXPECT_NE(state.find("\"iso\":6"), std::string::npos) << state;
  EXPECT_NE(state.find("\"wb\":[6,56]"), std::string::npos) << state;
  EXPECT_NE(state.find("\"video\":[10,6]"), std::string::npos) << state;
  EXPECT_NE(state.find("\"timelapse\":[30,600]"), std::string::npos) << state;
  EXPECT_NE(state.find("\"date\":\"2024-01-31 23:59:59\""), std::string::npos) << state;
}

// The daemon's HudBlock, writable, as a local process sees it.
uint8_t* map_hud_rw(const E2eDaemon& d) {
  std::string name = "/" + d.shm_prefix + "hud_mem";
  return static_cast<uint8_t*>(shm_map_rw(name.c_str(), kHudSize));
}

TEST_F(ControlE2e, MailboxCommandRunsOnce) {
  uint8_t* hud = map_hud_rw(d);
  ASSERT_NE(hud, nullptr);
  const Expect iso1600 = {2, 1, 64, 2, 42, 14, "07"};
  hud_set_text(hud, HUD_MAILBOX, 512, R"({"cmd":"iso","param":"1600"})");
  size_t end = 0;
  ASSERT_TRUE(e2e_wait_until([&] { return find_in_order(log(), 0, {iso1600}, &end); }, 3000));
  EXPECT_EQ(hud_get_u8(hud, HUD_MAILBOX), 0);
  // Several more poller passes: no second packet.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_FALSE(find_in_order(log(), end, {iso1600}, &end));
  EXPECT_NE(camsim_state().find("\"iso\":7"), std::string::npos);
  munmap(hud, kHudSize);
}

// Times at which a registered viewer heard an RC value report (code 15, 67 bytes).
std::vector<int64_t> rc_reports(const E2eDaemon& d, int ms) {
  E2eViewer v = e2e_viewer_open();
  e2e_viewer_register(v, d.viewer_port, true);
  std::vector<int64_t> at;
  uint8_t buf[4096];
  int64_t end = e2e_now_ms() + ms;
  for (int64_t left; (left = end - e2e_now_ms()) > 0;) {
    int n = e2e_viewer_recv(v, buf, sizeof buf, static_cast<int>(left));
    if (n == 12 + 67 && buf[0] == 'B' && buf[12] == 15 && buf[14] == 32) at.push_back(e2e_now_ms());
  }
  e2e_viewer_close(&v);
  return at;
}

TEST_F(ControlE2e, RcReportAboutEvery400MsWhileRcInputIsEnabled) {
  EXPECT_TRUE(rc_reports(d, 1200).empty());
  // The command goes to the configuration handler first, which enables RC input.
  viewer({"--send", R"({"cmd":"updateparam","name":"rcin_enabled","value":"1"})"});
  std::vector<int64_t> at = rc_reports(d, 3000);
  // Four 100 ms passes apart (more than 300 ms), three when the sleeps run
  // late on a busy machine.
  ASSERT_GE(at.size(), 5u);
  ASSERT_LE(at.size(), 11u);
  double mean = static_cast<double>(at.back() - at.front()) / static_cast<double>(at.size() - 1);
  EXPECT_GT(mean, 295);
  EXPECT_LT(mean, 520);
}

}  // namespace
