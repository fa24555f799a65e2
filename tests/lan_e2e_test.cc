// The daemon on a shared LAN: --viewer-allow (given here through the
// service's environment variable) keeps other sources off the viewer port and
// the DJI Go bridge; and pqw-viewer's command line against the real daemon.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/hud_block.h"
#include "testing/e2e_support.h"

namespace {

// A TCP client bound to a chosen loopback source address; -1 on failure.
int connect_from(const char* source, uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, source, &a.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  timeval tv{0, 300000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

// True when the peer closed the connection within about timeout_ms.
bool closed_by_peer(int fd, int timeout_ms) {
  char b[256];
  return e2e_wait_until(
      [&] {
        ssize_t n = recv(fd, b, sizeof b, MSG_DONTWAIT);
        return n == 0;
      },
      timeout_ms);
}

class LanE2e : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // As the service's environment file sets it.
    setenv("PQW_VIEWER_ALLOW", "127.0.0.1/32", 1);
    guard_ = new E2eDaemonGuard;
    bool started = e2e_start(&guard_->d);
    unsetenv("PQW_VIEWER_ALLOW");
    ASSERT_TRUE(started);
    ASSERT_TRUE(e2e_wait_output(guard_->d, "Init device discovery", 10000));
  }
  static void TearDownTestSuite() {
    delete guard_;
    guard_ = nullptr;
  }
  static E2eDaemon& d() { return guard_->d; }
  static E2eDaemonGuard* guard_;
};
E2eDaemonGuard* LanE2e::guard_ = nullptr;

TEST_F(LanE2e, OtherSourcesAreIgnoredOnTheViewerPort) {
  ASSERT_TRUE(e2e_wait_output(d(), "heard only from 127.0.0.1/32", 1000));
  E2eViewer stranger = e2e_viewer_open("127.0.0.2");
  E2eViewer local = e2e_viewer_open();
  ASSERT_GE(stranger.fd, 0);
  ASSERT_GE(local.fd, 0);
  // Every kind of message from the stranger: registration, removal, motion,
  // attitude and a command that would end the daemon.
  const std::string restart = R"({"cmd":"restart"})";
  const uint8_t reg[] = {0, 0}, remove[] = {1}, motion[] = {5, 3, 0xFE, 0xFF, 2, 1},
                attitude[] = {6, 0, 0, 0x7F, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(e2e_viewer_send(stranger, d().viewer_port, reg, sizeof reg));
  EXPECT_TRUE(e2e_viewer_send(stranger, d().viewer_port, remove, sizeof remove));
  EXPECT_TRUE(e2e_viewer_send(stranger, d().viewer_port, motion, sizeof motion));
  EXPECT_TRUE(e2e_viewer_send(stranger, d().viewer_port, attitude, sizeof attitude));
  EXPECT_TRUE(e2e_viewer_send(stranger, d().viewer_port,
                              reinterpret_cast<const uint8_t*>(restart.data()), restart.size()));
  EXPECT_TRUE(e2e_viewer_send(stranger, d().viewer_port, reg, sizeof reg));

  // The daemon reads its one socket in order: once the allowed viewer is
  // answered, everything the stranger sent before has been dealt with.
  ASSERT_TRUE(e2e_viewer_register(local, d().viewer_port, false));
  uint8_t buf[1600];
  ASSERT_EQ(e2e_viewer_recv(local, buf, sizeof buf, 3000), 1);
  EXPECT_EQ(buf[0], 'B');
  // Beacons reach the registered viewer every 800 ms, never the stranger.
  ASSERT_GT(e2e_viewer_recv(local, buf, sizeof buf, 2000), 12);
  EXPECT_EQ(e2e_viewer_recv(stranger, buf, sizeof buf, 0), -1);

  std::string err = e2e_stderr(d());
  EXPECT_EQ(e2e_count(err, "viewer datagram from 127.0.0.2 refused: not in --viewer-allow"), 1u)
      << err;
  EXPECT_EQ(e2e_count(err, "client connected from 127.0.0.2"), 0u) << err;
  EXPECT_TRUE(e2e_running(&guard_->d));  // the stranger's "restart" did nothing
  // The count is refreshed once a second.
  const uint8_t* hud = e2e_hud_map(d());
  ASSERT_NE(hud, nullptr);
  EXPECT_TRUE(e2e_wait_until([&] { return hud_get_u8(hud, HUD_CLIENT_COUNT) != 0; }, 3000));
  EXPECT_EQ(hud_get_u8(hud, HUD_CLIENT_COUNT), 1);
  e2e_unmap(hud, kHudSize);
  e2e_viewer_close(&stranger);
  e2e_viewer_close(&local);
}

TEST_F(LanE2e, DjiGoBridgeRefusesOtherSources) {
  int stranger = -1;
  ASSERT_TRUE(e2e_wait_until(
      [&] { return (stranger = connect_from("127.0.0.2", d().djigo_port)) >= 0; }, 5000));
  EXPECT_TRUE(closed_by_peer(stranger, 3000));
  close(stranger);
  ASSERT_TRUE(e2e_wait_output(d(), "DJI Go connection from 127.0.0.2 refused", 2000));

  int app = connect_from("127.0.0.1", d().djigo_port);
  ASSERT_GE(app, 0);
  EXPECT_TRUE(e2e_wait_output(d(), "DJI Go client connected with ip address: 127.0.0.1", 3000));
  EXPECT_FALSE(closed_by_peer(app, 300));
  close(app);
  EXPECT_EQ(e2e_count(e2e_stdout(d()), "DJI Go client connected with ip address: 127.0.0.2"), 0u);
}

TEST_F(LanE2e, ViewerTextCannotForgeALogLine) {
  E2eViewer local = e2e_viewer_open();
  ASSERT_GE(local.fd, 0);
  const std::string forged =
      R"({"cmd":"updateparam","name":"x\nFORGED LINE: data disconnected","value":"1"})";
  ASSERT_TRUE(e2e_viewer_send(local, d().viewer_port,
                              reinterpret_cast<const uint8_t*>(forged.data()), forged.size()));
  EXPECT_TRUE(
      e2e_wait_output(d(), "Need to update param x\\nFORGED LINE: data disconnected to 1", 3000));
  std::string all = e2e_stdout(d()) + e2e_stderr(d());
  EXPECT_EQ(e2e_count(all, "\nFORGED LINE"), 0u) << all;
  e2e_viewer_close(&local);
}

TEST_F(LanE2e, PqwViewerOptions) {
  const std::string port = std::to_string(d().viewer_port);
  const std::string silent = std::to_string(e2e_free_udp_port());
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* output;
  } rows[] = {
      {{"--help"}, 0, "usage: pqw-viewer [options]"},
      {{"--version"}, 0, "pqw-viewer 0.14.11"},
      {{"--bogus"}, 2, "unrecognized option '--bogus'"},
      {{"--count"}, 2, "option '--count' requires an argument"},
      {{"--daemon-port", "70000"}, 2, "bad --daemon-port (1-65535) \"70000\""},
      {{"--port", "12x"}, 2, "bad --port (0-65535) \"12x\""},
      {{"--count", "-3"}, 2, "bad --count \"-3\""},
      {{"--seconds", "soon"}, 2, "bad --seconds \"soon\""},
      {{"--raw", "0G"}, 2, "bad --raw (hex bytes) \"0G\""},
      {{"stray"}, 2, "unexpected argument \"stray\""},
      // A host name, resolved from /etc/hosts.
      {{"--host", "localhost", "--daemon-port", port, "--count", "1", "--seconds", "5"},
       0,
       R"({"reply":"registered"})"},
      // Nothing listens there: it says so after 2 s and exits 1.
      {{"--daemon-port", silent, "--seconds", "2.3"}, 1, "no answer from 127.0.0.1:"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.args[0]);
    int status = -1;
    std::string out = e2e_run_tool("pqw-viewer", r.args, &status, true);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), r.status) << out;
    EXPECT_NE(out.find(r.output), std::string::npos) << out;
  }
}

TEST(LanE2eAlone, OneHostCannotTakeEveryViewerSlot) {
  // Rows: the option given ("" for none) and the slots one host then gets.
  struct Row {
    std::vector<std::string> args;
    int held;
  } rows[] = {{{}, 4}, {{"--viewer-max-per-address", "2"}, 2}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.held);
    E2eDaemonGuard g;
    ASSERT_TRUE(e2e_start(&g.d, r.args));
    ASSERT_TRUE(e2e_wait_output(g.d, "Init device discovery", 10000));
    std::vector<E2eViewer> host(static_cast<size_t>(r.held) + 2);
    for (E2eViewer& v : host) {
      v = e2e_viewer_open();
      ASSERT_GE(v.fd, 0);
    }
    E2eViewer other = e2e_viewer_open("127.0.0.2");
    ASSERT_GE(other.fd, 0);
    uint8_t buf[1600];
    // The first registration may come before the socket is read: retry it.
    ASSERT_TRUE(e2e_wait_until(
        [&] {
          e2e_viewer_register(host[0], g.d.viewer_port, true);
          return e2e_viewer_recv(host[0], buf, sizeof buf, 200) == 1;
        },
        5000));
    for (size_t i = 1; i < host.size(); i++)
      ASSERT_TRUE(e2e_viewer_register(host[i], g.d.viewer_port, true));
    ASSERT_TRUE(e2e_viewer_register(other, g.d.viewer_port, true));
    // The other host is answered after everything the first host sent.
    EXPECT_EQ(e2e_viewer_recv(other, buf, sizeof buf, 3000), 1);
    for (size_t i = 1; i < host.size(); i++) {
      bool answered = e2e_viewer_recv(host[i], buf, sizeof buf, 0) == 1;
      EXPECT_EQ(answered, static_cast<int>(i) < r.held) << i;
    }
    EXPECT_TRUE(e2e_wait_output(g.d, "refused: 127.0.0.1 already holds", 2000));
    for (E2eViewer& v : host) e2e_viewer_close(&v);
    e2e_viewer_close(&other);
  }
}

TEST(LanE2eAlone, OneViewerCannotHoldEveryCommandWorker) {
  // One host sends more slow commands (a playback press takes seconds) than
  // there are workers; another host's command still runs at once.
  E2eDaemonGuard g;
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "data connected", 10000)) << e2e_stderr(g.d);
  uint16_t camsim = e2e_camsim_control_port(g.d, 3000);
  ASSERT_NE(camsim, 0);
  E2eViewer flood = e2e_viewer_open();
  E2eViewer other = e2e_viewer_open("127.0.0.2");
  ASSERT_GE(flood.fd, 0);
  ASSERT_GE(other.fd, 0);
  auto send = [&](const E2eViewer& v, const std::string& json) {
    return e2e_viewer_send(v, g.d.viewer_port, reinterpret_cast<const uint8_t*>(json.data()),
                           json.size());
  };
  for (int i = 0; i < 17; i++) ASSERT_TRUE(send(flood, R"({"cmd":"playback","param":"back"})"));
  ASSERT_TRUE(send(other, R"({"cmd":"iso","param":"1600"})"));
  // The other host's command runs while the flood holds its share. Its
  // packet then meets four writers on the bus; under a heavily loaded
  // machine it can lose that race (the link tries twice, then gives up),
  // which is not what this test is about: the worker running is.
  EXPECT_TRUE(e2e_wait_output(g.d, "set iso 1600", 3000))
      << e2e_camsim_command(camsim, "state") << e2e_stderr(g.d);
  EXPECT_TRUE(
      e2e_wait_output(g.d, "command from 127.0.0.1 dropped: it has 4 commands running", 1000));
  std::string err = e2e_stderr(g.d);
  EXPECT_EQ(e2e_count(err, "command from 127.0.0.1 dropped"), 1u) << err;
  EXPECT_EQ(e2e_count(err, "too many command workers running"), 0u) << err;
  e2e_viewer_close(&flood);
  e2e_viewer_close(&other);
}

TEST(LanE2eAlone, BadNetworkIsNamedAtStart) {
  int status = -1;
  std::string out =
      e2e_run_tool("pelquarinthos-wired", {"--viewer-allow", "10.0.0.0/8,10.1/16"}, &status, true);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 64);
  EXPECT_NE(out.find("--viewer-allow: bad network \"10.1/16\""), std::string::npos) << out;
}

}  // namespace
