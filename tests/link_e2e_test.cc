// The camera link of the real daemon, end to end over loopback: the daemon in
// --sim with pqw-camsim on the simulated bus, a viewer, and the DJI Go bridge.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/hud_block.h"
#include "link/link_packet.h"
#include "tools/packet_build.h"
#include "platform/spawn.h"
#include "testing/sandbox.h"
#include "testing/e2e_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool wait_stderr_count(const E2eDaemon& d, const char* text, size_t n, int ms) {
  return e2e_wait_until([&] { return e2e_count(e2e_stderr(d), text) >= n; }, ms);
}

// A viewer registered with the daemon, reading its framed data messages.
struct Viewer {
  E2eViewer v = e2e_viewer_open();
  uint16_t daemon_port;
  explicit Viewer(uint16_t port) : daemon_port(port) { e2e_viewer_register(v, port, true); }
  ~Viewer() { e2e_viewer_close(&v); }
  // The payload of the next data message whose code and length match, or
  // empty after ms.
  Bytes wait_code(uint8_t code, size_t length, int ms, const Bytes& prefix = {}) {
    int64_t end = e2e_now_ms() + ms;
    uint8_t buf[4096];
    for (int64_t left; (left = end - e2e_now_ms()) > 0;) {
      int n = e2e_viewer_recv(v, buf, sizeof buf, static_cast<int>(std::min<int64_t>(left, 500)));
      if (n < 0) {
        e2e_viewer_register(v, daemon_port, true);  // stay registered
        continue;
      }
      if (n < 13 || buf[0] != 'B' || buf[1] != 0 || buf[12] != code) continue;
      Bytes payload(buf + 12, buf + n);
      if (payload.size() != length) continue;
      if (!prefix.empty() && !std::equal(prefix.begin(), prefix.end(), payload.begin())) continue;
      return payload;
    }
    return {};
  }
};

// The simulator the daemon started: its pid, bus and control port.
struct SimCamera {
  pid_t pid = -1;
  std::string bus;
  uint16_t control = 0;
};

// The decimal number right after `key` in text, or -1.
long number_after(const std::string& text, const std::string& key) {
  size_t p = text.find(key);
  if (p == std::string::npos) return -1;
  p += key.size();
  if (p >= text.size() || !isdigit(static_cast<unsigned char>(text[p]))) return -1;
  return strtol(text.c_str() + p, nullptr, 10);
}

bool find_sim_camera(const E2eDaemon& d, SimCamera* c) {
  // "sim: camera simulator pid N, bus udp:...:127.0.0.1:..., log ..."
  std::string err = e2e_stderr(d);
  long pid = number_after(err, "camera simulator pid ");
  size_t bus = err.find(", bus ");
  if (pid <= 0 || bus == std::string::npos) return false;
  c->pid = static_cast<pid_t>(pid);
  size_t end = err.find(',', bus + 6);
  c->bus = err.substr(bus + 6, end == std::string::npos ? std::string::npos : end - bus - 6);
  c->control = e2e_camsim_control_port(d, 3000);
  return c->control != 0;
}

class LinkE2e : public ::testing::Test {
 protected:
  E2eDaemon d;
  SimCamera cam;
  const uint8_t* hud = nullptr;

  void SetUp() override {
    ASSERT_TRUE(e2e_start(&d));
    ASSERT_TRUE(e2e_wait_output(d, "data connected", 10000)) << e2e_stderr(d);
    ASSERT_TRUE(find_sim_camera(d, &cam)) << e2e_stderr(d);
    ASSERT_TRUE(e2e_wait_until([&] { return (hud = e2e_hud_map(d)) != nullptr; }, 3000));
  }
  void TearDown() override {
    if (hud) e2e_unmap(hud, kHudSize);
    e2e_stop(&d);
  }
};

TEST_F(LinkE2e, LinkComesUpHudFillsViewersHearTelemetry) {
  // The records of the camera side land in the HUD within a few ticks.
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        // Every kind of record has been through (one may be lost to the
        // stall reopen while the simulator starts).
        return hud_get_u8(hud, HUD_TELEMETRY_VALID) == 1 &&
               hud_get_u32(hud, HUD_RECORD64_TIME) != 0 && hud_get_f64(hud, HUD_APERTURE) != 0 &&
               hud_get_u8(hud, HUD_FOCUS_RECEIVED) && hud_get_u32(hud, HUD_MSG22_VALUE) != 0 &&
               hud_get_u8(hud, HUD_PAN_TEXT) != 0;
      },
      5000));
  EXPECT_EQ(hud_get_u8(hud, HUD_LINK_UP_A), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_LINK_UP_B), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_TELEMETRY_B44), 11);
  EXPECT_EQ(hud_get_u32(hud, HUD_TELEMETRY_U32_20), 1234u);  // shots left
  EXPECT_DOUBLE_EQ(hud_get_f64(hud, HUD_APERTURE), 2.8);
  EXPECT_EQ(hud_get_u32(hud, HUD_SHUTTER_CODE), 0x8064u);
  EXPECT_EQ(hud_get_u8(hud, HUD_FOCUS_RECEIVED), 1);
  EXPECT_EQ(hud_get_u32(hud, HUD_MSG22_VALUE), 30000u);
  char text[16];
  hud_get_text(hud, HUD_PAN_TEXT, 10, text, sizeof text);
  EXPECT_STREQ(text, "0");
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        char status[130];
        hud_get_text(hud, HUD_LINK_STATUS, 128, status, sizeof status);
        return status[0] == 0;
      },
      3000));

  Viewer viewer(d.viewer_port);
  Bytes telemetry = viewer.wait_code(7, 24, 3000);
  ASSERT_EQ(telemetry.size(), 24u);
  EXPECT_EQ(telemetry[23], 11);
  EXPECT_EQ(viewer.wait_code(2, 31, 3000).size(), 31u);
  EXPECT_EQ(viewer.wait_code(0, 7, 3000).size(), 7u);
  EXPECT_EQ(viewer.wait_code(5, 7, 3000, {5, 0, 2}).size(), 7u);

  // pqw-viewer decodes every code the camera link sends, ten times a second.
  int status = -1;
  std::string lines = e2e_run_tool(
      "pqw-viewer",
      {"--daemon-port", std::to_string(d.viewer_port), "--data-only", "--seconds", "1.5"}, &status);
  EXPECT_EQ(status, 0);
  for (int code : {0, 2, 3, 7, 8, 10, 12, 13, 14, 16})
    EXPECT_GE(e2e_count(lines, "\"code\":" + std::to_string(code) + ","), 5u) << code << "\n"
                                                                              << lines;

  // The camera side heard the answers to its queries and the keep-alives.
  ASSERT_TRUE(e2e_wait_output(d, "Current MAC", 4000));
  std::string log;
  ASSERT_TRUE(e2e_wait_until(
      [&] {
        log = test_read_file(d.dir + "/camsim.log");
        return log.find("\"set\":7,\"id\":17") != std::string::npos &&
               log.find("\"set\":2,\"id\":84") != std::string::npos;
      },
      4000))
      << log;
  EXPECT_NE(log.find("\"type\":128,\"set\":0,\"id\":1,\"length\":44"), std::string::npos);
  EXPECT_NE(log.find("\"effect\":\"reply\""), std::string::npos);
  EXPECT_NE(e2e_stderr(d).find("Init Osmo mode"), std::string::npos);
  // The start-up setting once the camera reported ready (telemetry byte 44 = 11).
  EXPECT_TRUE(e2e_wait_until(
      [&] { return test_read_file(d.dir + "/camsim.log").find("\"id\":102") != std::string::npos; },
      3000));
}

TEST_F(LinkE2e, SilenceDropsTheLinkAndRestartBringsItBack) {
  Viewer viewer(d.viewer_port);
  ASSERT_EQ(viewer.wait_code(5, 7, 3000, {5, 0, 2}).size(), 7u);
  ASSERT_EQ(e2e_camsim_command(cam.control, "silent 1"), "ok\n");
  int64_t silent_at = e2e_now_ms();
  Bytes down = viewer.wait_code(5, 7, 4000, {5, 0, 0});
  int64_t took = e2e_now_ms() - silent_at;
  ASSERT_EQ(down.size(), 7u);
  // Lost after more than a second without packets, noticed by the next
  // once-a-second watchdog run: within two seconds (plus scheduling slack).
  EXPECT_GT(took, 900);
  EXPECT_LT(took, 2300);
  EXPECT_EQ(e2e_count(e2e_stderr(d), "data disconnected"), 1u);
  EXPECT_EQ(hud_get_u8(hud, HUD_LINK_UP_A), 0);
  char status[130];
  hud_get_text(hud, HUD_LINK_STATUS, 128, status, sizeof status);
  EXPECT_STREQ(status, "telemetry disconnected");

  ASSERT_EQ(e2e_camsim_command(cam.control, "silent 0"), "ok\n");
  ASSERT_TRUE(wait_stderr_count(d, "data connected", 2, 3000));
  EXPECT_EQ(viewer.wait_code(5, 7, 3000, {5, 0, 2}).size(), 7u);

  // The simulator ends and a new one takes its place on the same bus.
  ASSERT_EQ(kill(cam.pid, SIGTERM), 0);
  ASSERT_TRUE(wait_stderr_count(d, "data disconnected", 2, 4000));
  std::string camsim = e2e_bin_dir() + "/pqw-camsim";
  SpawnOptions o;
  o.path = camsim.c_str();
  pid_t again = spawn_process({"pqw-camsim", "--bus", cam.bus, "--log", d.dir + "/camsim2.log"}, o);
  ASSERT_GT(again, 0);
  bool back = wait_stderr_count(d, "data connected", 3, 5000);
  bool telemetry = viewer.wait_code(7, 24, 3000).size() == 24;
  int status_code = spawn_stop(again);
  EXPECT_TRUE(back) << e2e_stderr(d);
  EXPECT_TRUE(telemetry);
  EXPECT_TRUE(WIFEXITED(status_code) && WEXITSTATUS(status_code) == 0);
}

TEST_F(LinkE2e, ViewerCommandsShowInTheCameraStatus) {
  Viewer viewer(d.viewer_port);
  auto command = [&](const char* json) {
    std::string text = json;
    ASSERT_TRUE(e2e_viewer_send(viewer.v, d.viewer_port,
                                reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  };
  command("{\"cmd\":\"record\",\"param\":\"start\"}");
  // Status and mode come in one record, written one after the other: wait for both.
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        return hud_get_u8(hud, HUD_CAMERA_STATUS) >> 6 == 2 &&
               hud_get_u8(hud, HUD_CAMERA_MODE) == 1;
      },
      3000));
  command("{\"cmd\":\"record\",\"param\":\"stop\"}");
  EXPECT_TRUE(e2e_wait_until([&] { return hud_get_u8(hud, HUD_CAMERA_STATUS) >> 6 == 0; }, 3000));

  // One command at a time, each seen in the status before the next: the
  // packets of commands that arrive together race for the bus writer, and
  // one that finds it busy twice is dropped (a viewer repeats it).
  auto shows = [&](const char* json, const std::function<bool()>& in_status) {
    command(json);
    EXPECT_TRUE(e2e_wait_until(in_status, 4000)) << json << "\n"
                                                 << e2e_camsim_command(cam.control, "state");
  };
  shows("{\"cmd\":\"iso\",\"param\":\"800\"}",
        [&] { return hud_get_u8(hud, HUD_CAMSTATE_B16) == 6; });
  shows("{\"cmd\":\"shutter\",\"param\":\"1000\"}",
        [&] { return hud_get_u32(hud, HUD_SHUTTER_CODE) == 0x83E8u; });
  shows("{\"cmd\":\"aperture\",\"param\":\"4.0\"}",
        [&] { return hud_get_f64(hud, HUD_APERTURE) == 4.0; });
  shows("{\"cmd\":\"ev\",\"param\":\"-1.0\"}",
        [&] { return hud_get_i8(hud, HUD_EV_TENTHS) == -10; });
  shows("{\"cmd\":\"shottype\",\"param\":\"multiple\",\"value1\":\"5shots\"}", [&] {
    return hud_get_u8(hud, HUD_CAPTURE_MODE) == 1 && hud_get_u8(hud, HUD_CAPTURE_SUBMODE) == 1;
  });
  shows("{\"cmd\":\"position\",\"param\":\"move\",\"value1\":\"300\",\"value2\":\"-200\"}", [&] {
    char pan[16], tilt[16];
    hud_get_text(hud, HUD_PAN_TEXT, 10, pan, sizeof pan);
    hud_get_text(hud, HUD_TILT_TEXT, 10, tilt, sizeof tilt);
    return std::string(pan) == "30" && std::string(tilt) == "-20";
  });
}

TEST_F(LinkE2e, FaultyBusKeepsTheLinkUp) {
  for (const char* cmd : {"corrupt 40", "truncate 40", "badlen 40", "burst 200"})
    ASSERT_EQ(e2e_camsim_command(cam.control, cmd), "ok\n") << cmd;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_TRUE(e2e_running(&d));
  EXPECT_EQ(e2e_count(e2e_stderr(d), "data disconnected"), 0u);
  // The HUD keeps moving: the histogram record's time stamp is renewed.
  uint32_t stamp = hud_get_u32(hud, HUD_RECORD64_TIME);
  EXPECT_TRUE(e2e_wait_until([&] { return hud_get_u32(hud, HUD_RECORD64_TIME) != stamp; }, 2000));
  std::string stats = e2e_camsim_command(cam.control, "stats");
  EXPECT_NE(stats.find("\"packets_in\":"), std::string::npos);
}

// The DJI Go app's end of the bridge.
int connect_app(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The listener thread may not have reached listen() yet on a loaded machine.
int connect_app_wait(uint16_t port, int ms) {
  int fd = -1;
  e2e_wait_until([&] { return (fd = connect_app(port)) >= 0; }, ms);
  return fd;
}

// Whatever arrives within ms (at most max bytes).
Bytes app_read(int fd, int ms, size_t max = 65536) {
  Bytes out;
  int64_t end = e2e_now_ms() + ms;
  while (out.size() < max) {
    int64_t left = end - e2e_now_ms();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
    uint8_t buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

// Intact packets found in a byte stream.
size_t intact_packets(const Bytes& b) {
  size_t n = 0;
  for (size_t i = 0; i + 2 < b.size(); i++)
    if (b[i] == 0x55 && b[i + 1] >= 13 && i + b[i + 1] <= b.size() &&
        link_crc16(b.data() + i, b[i + 1]) == 0)
      n++;
  return n;
}

TEST_F(LinkE2e, DjiGoBridgePassesBytesBothWaysOneClientAtATime) {
  int a = connect_app_wait(d.djigo_port, 5000);
  ASSERT_GE(a, 0);
  ASSERT_TRUE(e2e_wait_output(d, "DJI Go client connected with ip address: 127.0.0.1", 3000));
  Bytes heard = app_read(a, 500);
  EXPECT_GT(intact_packets(heard), 10u);

  // A second app hears nothing while the first is served.
  int b = connect_app(d.djigo_port);
  ASSERT_GE(b, 0);
  EXPECT_TRUE(app_read(b, 400).empty());

  // App -> camera: a record button press written as the app sent it.
  Bytes press(23, 0);
  const uint8_t state[10] = {0x0C, 0, 0, 0, 0, 0x91, 0x0D, 0, 0, 0x9C ^ 0x0C};
  memcpy(press.data() + 11, state, sizeof state);
  link_packet_build(press.data(), press.size(), {0x09, 0x01, 0x4242, 0x00, 0x01, 0x01}, state,
                    sizeof state);
  ASSERT_EQ(send(a, press.data(), press.size(), 0), 23);
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        return test_read_file(d.dir + "/camsim.log").find("\"sequence\":16962") !=
               std::string::npos;
      },
      3000));
  EXPECT_TRUE(e2e_wait_until([&] { return hud_get_u8(hud, HUD_CAMERA_STATUS) >> 6 == 2; }, 3000));

  close(a);
  // The waiting app is taken next and hears the bus.
  Bytes second = app_read(b, 1500);
  EXPECT_GT(intact_packets(second), 5u);
  EXPECT_EQ(e2e_count(e2e_stdout(d), "DJI Go client connected with ip address: 127.0.0.1"), 2u);
  close(b);
}

TEST_F(LinkE2e, BridgeClientThatFloodsAndNeverReadsCannotStopTelemetry) {
  Viewer viewer(d.viewer_port);
  ASSERT_EQ(viewer.wait_code(7, 24, 5000).size(), 24u);
  int app = connect_app_wait(d.djigo_port, 5000);
  ASSERT_GE(app, 0);
  // The bridge gets at most half of the 1 Mbit/s bus (about 3800 frames a
  // second), however fast the app writes.
  long before = number_after(e2e_camsim_command(cam.control, "stats"), "\"frames_in\":");
  int64_t t0 = e2e_now_ms();
  // 1 MB of well-formed packets, then silence; the app never reads.
  std::thread flood([app] {
    Bytes chunk;
    while (chunk.size() < 65536) {
      Bytes p(23, 0);
      const uint8_t state[10] = {0x0C, 0, 0, 0, 0, 0x91, 0x0D, 0, 0, 0x9C ^ 0x0C};
      link_packet_build(p.data(), p.size(), {0x09, 0x01, 0x4242, 0x00, 0x01, 0x01}, state,
                        sizeof state);
      chunk.insert(chunk.end(), p.begin(), p.end());
    }
    for (int i = 0; i < 16; i++)
      if (send(app, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) return;
  });
  // Telemetry comes ten times a second; every second of the next five still
  // brings some.
  for (int second = 0; second < 5; second++) {
    SCOPED_TRACE(second);
    int64_t end = e2e_now_ms() + 1000;
    int records = 0;
    for (int64_t left; (left = end - e2e_now_ms()) > 0;)
      if (viewer.wait_code(7, 24, static_cast<int>(left)).size() == 24) records++;
    EXPECT_GE(records, 3);
    if (second == 0) {
      long after = number_after(e2e_camsim_command(cam.control, "stats"), "\"frames_in\":");
      double seconds = (e2e_now_ms() - t0) / 1000.0;
      EXPECT_LT(after - before, 4500 * seconds + 500) << seconds;
    }
  }
  shutdown(app, SHUT_RDWR);
  flood.join();
  close(app);
}

}  // namespace
