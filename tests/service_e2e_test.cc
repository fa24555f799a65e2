// The real daemon in --sim as systemd runs it: sd_notify messages on a socket
// of the test's own, "<N>" prefixes when stderr is the journal, the lock
// against a second copy, the lines that say why it ends, the counters file.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/hud_block.h"
#include "platform/ports.h"
#include "testing/sandbox.h"
#include "testing/e2e_support.h"

namespace {

constexpr char kControlOn[] = "control_enabled=1\n";

// A unix datagram socket standing in for systemd's notification socket.
struct NotifySocket {
  int fd = -1;
  std::string path;
  std::string received;
  explicit NotifySocket(const std::string& dir) : path(dir + "/notify.sock") {
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fd = -1;
  }
  ~NotifySocket() {
    if (fd >= 0) close(fd);
  }
  // Reads what arrived until text is among it or timeout_ms passes.
  bool wait_for(const std::string& text, int timeout_ms) {
    return e2e_wait_until(
        [&] {
          char buf[512];
          ssize_t n;
          while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            received.append(buf, static_cast<size_t>(n)).append("\n");
          return received.find(text) != std::string::npos;
        },
        timeout_ms);
  }
};

// A viewer's JSON command to the daemon.
void viewer_command(const E2eDaemon& d, const E2eViewer& v, const char* json) {
  e2e_viewer_send(v, d.viewer_port, reinterpret_cast<const uint8_t*>(json), strlen(json));
}

int exit_status_within(E2eDaemon* d, int timeout_ms) {
  int status = -1;
  if (!e2e_wait_until([&] { return !e2e_running(d, &status); }, timeout_ms)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ServiceE2e, ReadinessStatusAndWatchdogGoToNotifySocket) {
  E2eDaemonGuard g;
  e2e_write_config(&g.d, kControlOn);
  NotifySocket n(g.d.dir);
  ASSERT_GE(n.fd, 0);
  g.d.env = {"NOTIFY_SOCKET=" + n.path};
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(n.wait_for("READY=1\nSTATUS=", 10000)) << n.received;
  EXPECT_TRUE(n.wait_for("WATCHDOG=1", 3000)) << n.received;
  // The status follows the camera link coming up.
  EXPECT_TRUE(n.wait_for("STATUS=camera link connected, 0 viewers", 10000)) << n.received;
}

TEST(ServiceE2e, JournalLinesCarryPrioritiesAndNoColour) {
  E2eDaemonGuard g;
  e2e_write_config(&g.d, kControlOn);
  g.d.journal = true;
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "data connected", 10000)) << e2e_stderr(g.d);
  ASSERT_TRUE(e2e_wait_output(g.d, "<7>CAN delta", 5000)) << e2e_stderr(g.d);
  // Three more health passes: still only the first of the minute.
  e2e_wait_until([] { return false; }, 3000);
  std::string text = e2e_stderr(g.d);
  EXPECT_EQ(e2e_count(text, "CAN delta"), 1u) << text;
  EXPECT_EQ(text.find('\033'), std::string::npos);
  EXPECT_NE(text.find("<6>Pelquarinthos wired v.0.14.11\n"), std::string::npos) << text;
  EXPECT_NE(text.find("<6>GPIO init\n"), std::string::npos);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    ASSERT_GE(line.size(), 3u) << text;
    EXPECT_TRUE(line[0] == '<' && line[2] == '>' && strchr("3467", line[1])) << line;
  }
}

TEST(ServiceE2e, OutsideTheJournalOutputIsUnchanged) {
  E2eDaemonGuard g;
  e2e_write_config(&g.d, kControlOn);
  // A JOURNAL_STREAM naming another file is not ours.
  g.d.env = {"JOURNAL_STREAM=1:1"};
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_until([&] { return e2e_count(e2e_stdout(g.d), "CAN delta") >= 2; }, 10000))
      << e2e_stdout(g.d);
  EXPECT_NE(e2e_stdout(g.d).find("\033[1;37mPelquarinthos wired v.0.14.11\033[0m\n"),
            std::string::npos);
  EXPECT_EQ(e2e_stderr(g.d).find("<6>"), std::string::npos);
  EXPECT_EQ(e2e_stdout(g.d).find("<7>"), std::string::npos);
}

TEST(ServiceE2e, SecondCopyLeavesAtOnceTouchingNothing) {
  E2eDaemonGuard g;
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "Init device discovery", 10000));
  // A mark in the running daemon's block that a start-up would clear.
  std::string name = "/" + g.d.shm_prefix + "hud_mem";
  int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  auto* hud =
      static_cast<uint8_t*>(mmap(nullptr, kHudSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  close(fd);
  ASSERT_NE(hud, MAP_FAILED);
  hud_set_u8(hud, HUD_STARTED, 77);

  int64_t t0 = e2e_now_ms();
  int status = 0;
  std::string out =
      e2e_run_tool("pelquarinthos-wired",
                   {"--sim", "--sim-dir", g.d.dir, "--shm-prefix", g.d.shm_prefix}, &status, true);
  EXPECT_LT(e2e_now_ms() - t0, 1000);
  EXPECT_EQ(WEXITSTATUS(status), 75) << out;
  EXPECT_NE(out.find("already running as pid " + std::to_string(g.d.pid)), std::string::npos)
      << out;
  EXPECT_NE(out.find("--shm-prefix"), std::string::npos) << out;
  EXPECT_EQ(hud_get_u8(hud, HUD_STARTED), 77);
  EXPECT_TRUE(e2e_running(&g.d));
  munmap(hud, kHudSize);
}

// Each way the daemon ends says why on its last line.
TEST(ServiceE2e, ExitReasons) {
  {
    SCOPED_TRACE("viewer port in use");
    UdpOptions any;
    any.any_address = true;
    int busy = net_udp_open(0, any);
    ASSERT_GE(busy, 0);
    uint16_t port = net_bound_port(busy);
    E2eDaemonGuard g;
    ASSERT_TRUE(e2e_start(&g.d, {"--viewer-port", std::to_string(port)}));
    EXPECT_EQ(exit_status_within(&g.d, 10000), 100);
    // Other threads may log between the two lines (the CAN reader opening
    // its socket): the reason follows the failure, not necessarily at once.
    std::string err = e2e_stderr(g.d);
    size_t failed = err.find("discovery bind failed\n");
    ASSERT_NE(failed, std::string::npos) << err;
    EXPECT_NE(
        err.find("viewer port: UDP " + std::to_string(port) + ": Address already in use", failed),
        std::string::npos)
        << err;
    EXPECT_NE(e2e_stderr(g.d).find("--viewer-port"), std::string::npos);
    close(busy);
  }
  {
    SCOPED_TRACE("a viewer's restart");
    E2eDaemonGuard g;
    ASSERT_TRUE(e2e_start(&g.d));
    ASSERT_TRUE(e2e_wait_output(g.d, "Init device discovery", 10000));
    E2eViewer v = e2e_viewer_open();
    viewer_command(g.d, v, "{\"cmd\":\"restart\"}");
    EXPECT_EQ(exit_status_within(&g.d, 5000), 3);
    EXPECT_NE(e2e_stderr(g.d).find(
                  "restart asked for by viewer 127.0.0.1:" + std::to_string(v.port) + "\n"),
              std::string::npos)
        << e2e_stderr(g.d);
    e2e_viewer_close(&v);
  }
  if (if_nametoindex("can0") == 0) {
    SCOPED_TRACE("no can0");
    E2eDaemonGuard g;
    e2e_write_config(&g.d, kControlOn);
    ASSERT_TRUE(e2e_start(&g.d, {"--can", "can0"}));
    ASSERT_TRUE(e2e_wait_output(g.d, "Init CAN bus", 10000));
    int64_t t0 = e2e_now_ms();
    EXPECT_EQ(exit_status_within(&g.d, 10000), 2);
    // It waits for the interface before giving up, and says what is missing.
    int64_t waited = e2e_now_ms() - t0;
    EXPECT_GE(waited, 1800);
    EXPECT_LT(waited, 5000);
    // The system's text depends on whether CAN support is loaded at all.
    std::string out = e2e_stdout(g.d);
    EXPECT_NE(out.find("CAN socket open error: can0: "), std::string::npos) << out;
    EXPECT_NE(out.find("(no CAN interface: is the CAN HAT fitted and its overlay enabled"),
              std::string::npos)
        << out;
    EXPECT_EQ(e2e_count(e2e_stderr(g.d) + e2e_stdout(g.d), "ip link"), 0u);
  }
}

TEST(ServiceE2e, CountersFileIsPublishedAndPrinted) {
  E2eDaemonGuard g;
  e2e_write_config(&g.d, kControlOn);
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "data connected", 10000)) << e2e_stderr(g.d);
  E2eViewer v = e2e_viewer_open();
  ASSERT_TRUE(e2e_viewer_register(v, g.d.viewer_port, false));
  viewer_command(g.d, v, "{\"cmd\":\"configrequest\"}");
  cJSON* doc = nullptr;
  std::string json;
  auto number = [&](const char* key) {
    cJSON* item = cJSON_GetObjectItem(doc, key);
    return cJSON_IsNumber(item) ? item->valuedouble : -1;
  };
  bool ok = e2e_wait_until(
      [&] {
        int status = -1;
        json = e2e_run_tool(
            "pqw-hud", {"--stats", "--root", g.d.dir + "/root", "--shm-prefix", g.d.shm_prefix},
            &status);
        cJSON_Delete(doc);
        doc = cJSON_Parse(json.c_str());
        return status == 0 && doc && number("viewers") == 1 && number("commands_run") >= 1 &&
               number("packets_out") > 0;
      },
      10000);
  EXPECT_TRUE(ok) << json;
  EXPECT_GT(number("can_frames_in"), 0) << json;
  EXPECT_GT(number("packets_in"), 0) << json;
  for (const char* key :
       {"can_frames_out", "crc_rejects", "length_rejects", "socket_reopens", "video_in",
        "video_relayed", "video_dropped", "commands_dropped", "config_saves", "uptime_s"})
    EXPECT_GE(number(key), 0) << key;
  cJSON_Delete(doc);
  // Replaced by rename: no temporary file stays beside it.
  EXPECT_FALSE(
      test_read_file(g.d.dir + "/root/run/pelquarinthos-wired/" + g.d.shm_prefix + "stats.json.tmp")
          .size());
  e2e_viewer_close(&v);
}

}  // namespace
