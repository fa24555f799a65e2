// The CAN transport over the simulated bus, with this test playing the
// camera on the other end of the UDP pair, and the DJI Go bridge beside it.
#include "link/can_transport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "link/can_frame.h"
#include "link/djigo_bridge.h"
#include "testing/fake_clock.h"
#include "testing/link_capture.h"
#include "tools/packet_build.h"
#include "platform/clock.h"
#include "platform/health.h"
#include "platform/ports.h"
#include "platform/thread.h"

namespace {

int g_camera = -1;  // the camera's end of the bus
sockaddr_in g_daemon{};
// Kept alive past exit(): the reader thread may still be delivering.
std::mutex& g_mutex = *new std::mutex;
std::condition_variable& g_cv = *new std::condition_variable;
std::vector<Bytes>& g_delivered = *new std::vector<Bytes>;

void on_packet(const uint8_t* p, size_t n) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_delivered.emplace_back(p, p + n);
  g_cv.notify_all();
}

// Waits until at least n packets were delivered in all.
bool wait_delivered(size_t n, int ms = 2000) {
  std::unique_lock<std::mutex> lock(g_mutex);
  return g_cv.wait_for(lock, std::chrono::milliseconds(ms),
                       [n] { return g_delivered.size() >= n; });
}
size_t delivered_count() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_delivered.size();
}
Bytes delivered_last() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_delivered.back();
}

void send_wire(const uint8_t* wire, size_t n) {
  sendto(g_camera, wire, n, 0, reinterpret_cast<sockaddr*>(&g_daemon), sizeof g_daemon);
}

void send_frame(uint32_t id, const uint8_t* data, uint8_t len) {
  CanFrame f;
  f.can_id = id;
  f.len = len;
  memcpy(f.data, data, len > 8 ? 8 : len);
  uint8_t wire[16];
  can_frame_encode(f, wire);
  if (len > 8) wire[4] = len;
  send_wire(wire, 16);
}

void send_packet(const Bytes& p, uint32_t id = kCanIdCamera) {
  for (size_t i = 0; i < can_frame_count(p.size()); i++) {
    CanFrame f = can_frame_chunk(id, p.data(), p.size(), i);
    send_frame(id, f.data, f.len);
  }
}

Bytes make_packet(size_t length, uint8_t fill) {
  Bytes payload(length - kLinkOverhead, fill);
  Bytes p(length);
  link_packet_build(p.data(), p.size(), {0x01, 0x02, 0, 0, 0x02, 0x80}, payload.data(),
                    payload.size());
  return p;
}

// One datagram the daemon wrote, or an empty result after the time-out.
Bytes camera_receive(int ms = 1000) {
  pollfd p{g_camera, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return {};
  uint8_t buf[64];
  ssize_t n = recv(g_camera, buf, sizeof buf, 0);
  return n > 0 ? Bytes(buf, buf + n) : Bytes{};
}

void drain_camera() {
  while (!camera_receive(50).empty()) {
  }
}

class Transport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UdpOptions big;
    big.receive_buffer = 1 << 20;
    g_camera = net_udp_open(0, big);
    uint16_t local = net_free_port(SOCK_DGRAM);
    g_daemon = net_loopback(local);
    std::string bus =
        "udp:" + std::to_string(local) + ":127.0.0.1:" + std::to_string(net_bound_port(g_camera));
    can_set_spec(bus.c_str());
    net_ports().djigo = net_free_port(SOCK_STREAM);
    can_set_packet_handler(on_packet);
    testing::internal::CaptureStderr();
    can_init();
    thread_start("pqw-can-rx", can_reader);
    thread_start("pqw-djigo", djigo_listener);
    // The reader opens the socket on its own thread: knock until it answers.
    Bytes p = make_packet(13, 0);
    bool up = false;
    for (int i = 0; i < 100 && !up; i++) {
      send_packet(p);
      up = wait_delivered(1, 20);
    }
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(up);
    ASSERT_EQ(err.rfind("Init CAN bus\nopen socket\n", 0), 0u) << err;
  }
};

TEST_F(Transport, FramesBecomePacketsAndForeignFramesAreIgnored) {
  size_t before = delivered_count();
  uint8_t junk[8] = {0x55, 0x0E, 0x04, 0x66, 0, 0, 0, 0};
  send_frame(0x412, junk, 8);                // our own id
  send_frame(0x413 | 0x80000000u, junk, 8);  // extended frame
  send_frame(0x413, junk, 9);                // data length past 8
  send_wire(junk, 8);                        // not a whole frame
  Bytes p = make_packet(25, 0x42);
  fake_clock_install(777777);
  send_packet(p);
  ASSERT_TRUE(wait_delivered(before + 1));
  EXPECT_EQ(delivered_last(), p);
  EXPECT_EQ(can_last_receive_time(), 777777u);
  fake_clock_remove();
  // Had any of the junk been buffered, the 25-byte packet would still come
  // through; what must not happen is a second delivery.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(delivered_count(), before + 1);
}

// The reader takes whatever waits on the bus in one read (up to 32 frames):
// held inside the handler while 51 frames pile up, it must still hand over
// every packet once, whole and in order, across the batch boundary, with
// the foreign and malformed frames between them dropped one by one.
std::atomic<bool> g_hold{false};
void held_packet(const uint8_t* p, size_t n) {
  while (g_hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  on_packet(p, n);
}

TEST_F(Transport, FramesThatPileUpAreReadTogetherAndHandledInOrder) {
  can_set_packet_handler(held_packet);
  g_hold = true;
  size_t before = delivered_count();
  send_packet(make_packet(13, 0x01));  // the reader stops in its handler
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::vector<Bytes> expected = {make_packet(13, 0x01)};
  uint8_t junk[8] = {0x55, 0x0E, 0x04, 0x66, 0, 0, 0, 0};
  const size_t lengths[] = {25, 22, 19, 25, 49, 15, 25, 14};  // 2 to 7 frames each
  for (uint8_t i = 0; i < 8; i++) {
    Bytes p = make_packet(lengths[i], static_cast<uint8_t>(0x10 + i));
    expected.push_back(p);
    send_frame(0x412, junk, 8);
    send_packet(p);
    send_wire(junk, 8);
  }
  fake_clock_install(424242);
  g_hold = false;
  ASSERT_TRUE(wait_delivered(before + expected.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  can_set_packet_handler(on_packet);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_EQ(g_delivered.size(), before + expected.size());
    for (size_t i = 0; i < expected.size(); i++) EXPECT_EQ(g_delivered[before + i], expected[i]);
  }
  EXPECT_EQ(can_last_receive_time(), 424242u);
  fake_clock_remove();
}

// The service watchdog pings only while the reader turns, and it turns on
// a quiet bus too (its read times out every 50 ms).
TEST_F(Transport, TheReaderTurnsOnAQuietBus) {
  uint64_t before = health_loop_turns(HEALTH_LOOP_CAN_READER);
  bool turned = false;
  for (int i = 0; i < 200 && !turned; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    turned = health_loop_turns(HEALTH_LOOP_CAN_READER) >= before + 2;
  }
  EXPECT_TRUE(turned);
}

TEST_F(Transport, WritesEightByteFramesWithId412) {
  drain_camera();
  uint8_t bytes[20];
  for (int i = 0; i < 20; i++) bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(can_write_packet(bytes, 20), 20);
  EXPECT_EQ(to_hex(camera_receive()), "12 04 00 00 08 00 00 00 00 01 02 03 04 05 06 07");
  EXPECT_EQ(to_hex(camera_receive()), "12 04 00 00 08 00 00 00 08 09 0A 0B 0C 0D 0E 0F");
  EXPECT_EQ(to_hex(camera_receive()), "12 04 00 00 04 00 00 00 10 11 12 13 00 00 00 00");
  EXPECT_EQ(can_write_packet(bytes, 0), 0);
  EXPECT_TRUE(camera_receive(100).empty());
}

std::atomic<int> g_nested{0};
void nested_writer(uint32_t) {
  if (g_nested.load() == 0) {
    uint8_t b[4] = {1, 2, 3, 4};
    g_nested.store(can_write_packet(b, 4) == -1 ? 1 : 2);
  }
}

TEST_F(Transport, BusyWriterRefusesAtOnceAndFailedFramesAreTriedThreeTimes) {
  // With the socket closed every write fails; from inside the writer's pause
  // a second writer finds the bus busy.
  testing::internal::CaptureStderr();
  can_close();
  sleep_set_fn(nested_writer);
  uint8_t b[4] = {9, 9, 9, 9};
  int r = can_write_packet(b, 4);
  sleep_set_fn(nullptr);
  can_open();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r, 4);
  EXPECT_EQ(g_nested.load(), 1);
  EXPECT_EQ(err, "close socket\nsend again 2\nbusy\nsend again 1\nsend again 0\nopen socket\n");
  // And the bus works again.
  drain_camera();
  EXPECT_EQ(can_write_packet(b, 4), 4);
  EXPECT_EQ(camera_receive().size(), 16u);
}

TEST_F(Transport, ConcurrentWritersNeverInterleave) {
  drain_camera();
  std::vector<Bytes> frames;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    for (;;) {
      Bytes f = camera_receive(200);
      if (f.empty()) {
        if (done.load()) return;
        continue;
      }
      frames.push_back(f);
    }
  });
  std::atomic<int> accepted{0}, refused{0};
  testing::internal::CaptureStderr();
  auto writer = [&](uint8_t who) {
    for (int i = 0; i < 300; i++) {
      uint8_t p[20];
      memset(p, who, sizeof p);
      p[1] = static_cast<uint8_t>(i);
      (can_write_packet(p, sizeof p) == -1 ? refused : accepted)++;
      // Loopback drops what the camera's socket cannot hold; let it read.
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  };
  std::thread a(writer, 0xA1), b(writer, 0xB2);
  a.join();
  b.join();
  std::string err = testing::internal::GetCapturedStderr();
  done.store(true);
  reader.join();
  EXPECT_EQ(accepted.load() + refused.load(), 600);
  EXPECT_GT(accepted.load(), 0);
  ASSERT_EQ(frames.size(), 3u * accepted.load());
  for (size_t i = 0; i < frames.size(); i += 3) {
    // Three frames of one packet in a row: 8, 8 and 4 bytes, one writer's.
    EXPECT_EQ(frames[i][4], 8);
    EXPECT_EQ(frames[i + 1][4], 8);
    EXPECT_EQ(frames[i + 2][4], 4);
    uint8_t who = frames[i][8];
    EXPECT_EQ(frames[i + 1][8], who);
    EXPECT_EQ(frames[i + 2][8], who);
  }
  // Every refusal said "busy".
  size_t busy = 0;
  for (size_t pos = err.find("busy\n"); pos != std::string::npos; pos = err.find("busy\n", pos + 1))
    busy++;
  EXPECT_EQ(busy, static_cast<size_t>(refused.load()));
}

TEST_F(Transport, StallCheckReopensAfterMoreThan100ms) {
  fake_clock_install(10000);
  can_set_last_receive_time(9900);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  can_check_stall();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "CAN delta 100\n");
  EXPECT_EQ(can_last_receive_time(), 9900u);

  can_set_last_receive_time(9899);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  can_check_stall();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "close socket\nopen socket\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "CAN delta 101\n");
  EXPECT_EQ(can_last_receive_time(), 0u);

  testing::internal::CaptureStdout();
  can_check_stall();  // disarmed until the next accepted frame
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  size_t before = delivered_count();
  send_packet(make_packet(14, 0x14));
  ASSERT_TRUE(wait_delivered(before + 1));
  EXPECT_EQ(can_last_receive_time(), 10000u);
  fake_clock_remove();
}

TEST_F(Transport, ReopenForASocketAlreadyReplacedIsSkipped) {
  uint32_t seen = can_generation();
  testing::internal::CaptureStderr();
  can_close();  // another thread's reopen got there first
  can_open();
  uint32_t now = can_generation();
  EXPECT_NE(now, seen);
  can_reopen_unless_replaced(seen);
  EXPECT_EQ(can_generation(), now);
  can_reopen_unless_replaced(now);
  EXPECT_NE(can_generation(), now);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "close socket\nopen socket\nclose socket\nopen socket\n");
  size_t before = delivered_count();
  send_packet(make_packet(14, 0x14));
  EXPECT_TRUE(wait_delivered(before + 1));
}

TEST_F(Transport, RetiredSocketIsNeverReadOrWrittenAfterItsClose) {
  // The camera keeps talking and a writer keeps writing while the socket is
  // replaced again and again; each freed descriptor number is taken at once
  // by a pipe holding one byte. A reader or writer still using the old
  // number would take that byte or add to it.
  std::atomic<bool> stop{false};
  std::thread camera([&] {
    Bytes p = make_packet(22, 0x22);
    while (!stop.load()) {
      send_packet(p);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::thread writer([&] {
    uint8_t b[20] = {};
    while (!stop.load()) can_write_packet(b, sizeof b);
  });
  std::vector<std::pair<int, int>> pipes;
  testing::internal::CaptureStderr();
  for (int i = 0; i < 30; i++) {
    can_close();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    pipes.emplace_back(fds[0], fds[1]);
    can_open();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop.store(true);
  camera.join();
  writer.join();
  testing::internal::GetCapturedStderr();
  for (auto [r, w] : pipes) {
    pollfd p{r, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 0), 1);
    char c[4];
    EXPECT_EQ(read(r, c, sizeof c), 1);
    close(r);
    close(w);
  }
  size_t before = delivered_count();
  send_packet(make_packet(15, 0x15));
  EXPECT_TRUE(wait_delivered(before + 1));
  drain_camera();
}

// --- DJI Go bridge ----------------------------------------------------------

int connect_app() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(net_ports().djigo);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Bytes the app receives within ms.
Bytes app_receive(int fd, size_t want, int ms = 1000) {
  Bytes out;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < want) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    end - std::chrono::steady_clock::now())
                                    .count());
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    uint8_t buf[256];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

bool wait_connected(bool want) {
  // Polled: the listener thread flips it.
  for (int i = 0; i < 200; i++) {
    if (can_djigo_connected() == want) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(Transport, DjiGoBridgeBothWaysOneClientAtATime) {
  testing::internal::CaptureStdout();
  int a = connect_app();
  ASSERT_GE(a, 0);
  ASSERT_TRUE(wait_connected(true));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "DJI Go client connected with ip address: 127.0.0.1\n");

  // App -> bus: one write as received, no realignment.
  drain_camera();
  uint8_t bytes[21];
  for (int i = 0; i < 21; i++) bytes[i] = static_cast<uint8_t>(0x30 + i);
  ASSERT_EQ(send(a, bytes, sizeof bytes, 0), 21);
  Bytes f1 = camera_receive(), f2 = camera_receive(), f3 = camera_receive();
  ASSERT_EQ(f3.size(), 16u);
  EXPECT_EQ(f1[4], 8);
  EXPECT_EQ(f2[4], 8);
  EXPECT_EQ(f3[4], 5);
  EXPECT_EQ(to_hex(f3.data() + 8, 5), "40 41 42 43 44");

  // Bus -> app: the data bytes of every kept frame; skipped ones never.
  Bytes good = make_packet(14, 0x61);
  send_packet(make_packet(16, 0x62));
  send_packet(good);
  EXPECT_EQ(app_receive(a, 14), good);

  // A second app waits in the backlog, hearing nothing, until the first leaves.
  testing::internal::CaptureStdout();
  int b = connect_app();
  ASSERT_GE(b, 0);
  send_packet(good);
  EXPECT_EQ(app_receive(a, 14), good);
  EXPECT_TRUE(app_receive(b, 1, 300).empty());
  close(a);
  // The second app is taken as soon as the first has gone.
  Bytes other = make_packet(15, 0x63);
  Bytes heard;
  for (int i = 0; i < 20 && heard != other; i++) {
    send_packet(other);
    heard = app_receive(b, 15, 100);
  }
  EXPECT_EQ(heard, other);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "DJI Go client connected with ip address: 127.0.0.1\n");
  close(b);
  EXPECT_TRUE(wait_connected(false));
  drain_camera();
}

}  // namespace
