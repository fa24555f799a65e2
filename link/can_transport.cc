#include "link/can_transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>

#include "link/can_capture.h"
#include "link/can_frame.h"
#include "link/can_reassembly.h"
#include "link/link_handler.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/health.h"
#include "platform/log.h"
#include "platform/ports.h"

namespace {

enum class BusKind { kCan, kUdp, kBad };

// The longest the reader waits for a frame: it turns at least this often,
// so a socket retired under it is let go and the watchdog sees it alive.
constexpr int kReadWaitMs = 50;

// How long a reopen waits for the simulated bus's port to come free.
constexpr int kBindTries = 100;
constexpr uint32_t kBindRetryUs = 5000;

// The interface bring-up, run before every open (see can_transport.h).
constexpr char kCanInterface[] = "can0";

const char* const kBringUp[] = {
    "ip link set can0 down",
    "ip link set can0 type can bitrate 1000000",
    "ip link set can0 type can restart-ms 100",
    "ip link set can0 txqueuelen 1000",
    "ip link set can0 up",
};

// A descriptor some thread is inside of (reader poll/read, writer frames).
struct Pin {
  int fd = -1;
  int count = 0;
  bool retired = false;  // unpublished; the last user closes it
};

struct CanPort {
  // Transport, chosen before the reader starts.
  BusKind kind = BusKind::kCan;
  uint16_t udp_local = 0;
  sockaddr_in udp_peer{};

  std::mutex mutex;  // socket, generation, pins
  std::condition_variable released;
  int socket = -1;
  uint32_t generation = 0;
  Pin pins[4];

  std::mutex open_mutex;  // one bring-up and open at a time
  ifreq interface_request{};
  sockaddr_can address{};

  CanAssembler assembler;  // the reader thread's alone
  std::atomic<uint32_t> last_receive_time{0};

  std::mutex djigo_mutex;  // djigo_socket against its close
  std::atomic<uint8_t> djigo_connected{0};
  int djigo_socket = -1;

  std::atomic_flag writer_busy = ATOMIC_FLAG_INIT;
  std::atomic<CanPacketHandler> handler{nullptr};
};

// Never destroyed: the reader and bridge threads run until the process
// ends, and exit() must not tear the mutexes down under them.
CanPort& g_port = *new CanPort;

// --- descriptor pinning -----------------------------------------------------

Pin* find_pin(int fd) {
  for (Pin& p : g_port.pins)
    if (p.fd == fd && p.count > 0) return &p;
  return nullptr;
}

// The current socket, held until unpin; -1 when there is none.
int pin_current(uint32_t* generation) {
  std::lock_guard<std::mutex> lock(g_port.mutex);
  if (generation) *generation = g_port.generation;
  int fd = g_port.socket;
  if (fd < 0) return -1;
  Pin* p = find_pin(fd);
  if (!p) {
    for (Pin& q : g_port.pins) {
      if (q.count == 0) {
        q = Pin{fd, 0, false};
        p = &q;
        break;
      }
    }
  }
  if (!p) return -1;  // cannot happen: at most a reader and a writer hold pins
  p->count++;
  return fd;
}

void unpin(int fd) {
  std::lock_guard<std::mutex> lock(g_port.mutex);
  Pin* p = find_pin(fd);
  if (!p) return;
  if (--p->count == 0) {
    if (p->retired) close(fd);
    *p = Pin{};
    g_port.released.notify_all();
  }
}

uint32_t current_generation() {
  std::lock_guard<std::mutex> lock(g_port.mutex);
  return g_port.generation;
}

// Closes an unpublished descriptor once no thread is inside it. A UDP reader
// blocked in its read is woken by shutdown; a CAN reader's read times out
// within 50 ms; a writer holds it for at most one packet's frames.
void retire_locked(std::unique_lock<std::mutex>& lock, int fd) {
  if (!find_pin(fd)) {
    close(fd);
    return;
  }
  shutdown(fd, SHUT_RD);
  g_port.released.wait_for(lock, std::chrono::seconds(2), [fd] { return !find_pin(fd); });
  Pin* p = find_pin(fd);
  if (p)
    p->retired = true;  // left to the last user
  else
    close(fd);
}

void install(int fd) {
  std::unique_lock<std::mutex> lock(g_port.mutex);
  int old = g_port.socket;
  g_port.socket = fd;
  g_port.generation++;
  // A reopen by the other thread in between leaves one socket too many.
  if (old >= 0) retire_locked(lock, old);
}

// --- opening ----------------------------------------------------------------

// The line that says why the daemon ends: the interface, the system's error
// text and, for a missing interface, the usual cause on a Pi.
void open_failed(const char* message, int err) {
  bool missing = err == ENODEV || err == EAFNOSUPPORT || err == EPROTONOSUPPORT;
  if (g_port.kind == BusKind::kCan && missing)
    log_out(LogLevel::kError,
            "%s: %s: %s (no CAN interface: is the CAN HAT fitted and its overlay enabled, "
            "e.g. dtoverlay=mcp2515-can0 in /boot/config.txt?)\n",
            message, kCanInterface, strerror(err));
  else if (g_port.kind == BusKind::kCan && err != 0)
    log_out(LogLevel::kError, "%s: %s: %s\n", message, kCanInterface, strerror(err));
  else
    log_out(LogLevel::kError, "%s\n", message);
  app_exit(2);
}

// can0 missing (its driver module unloaded and loaded again, a CAN HAT
// probed anew): the bind failure below ends the process and the service
// starts it again at once, which while can0 stays away is a restart loop
// several times a second, each start adding the bring-up's complaints to the
// log. So a missing can0 is waited for a little first; true when it came,
// false to let the bind fail.
constexpr int kMissingInterfaceWaitMs = 3000;

bool wait_for_interface(int fd, ifreq* ifr) {
  log_warning("CAN: no can0, waiting up to %d ms\n", kMissingInterfaceWaitMs);
  for (int waited = 0; waited < kMissingInterfaceWaitMs; waited += 100) {
    sleep_us(100000);
    if (ioctl(fd, SIOCGIFINDEX, ifr) == 0) return true;
  }
  return false;
}

// False when its first command failed: can0 was not there, and one that
// appeared halfway has missed the bit rate (a real controller then refuses
// to come up, and a bound socket would wait on it for ever).
bool bring_up() {
  bool had_interface = shell_exit_code(shell_run(kBringUp[0])) == 0;
  for (size_t i = 1; i < sizeof kBringUp / sizeof kBringUp[0]; i++) shell_run(kBringUp[i]);
  return had_interface;
}

// The same wait before anything else: without CAN support loaded the socket
// itself cannot be made, and the daemon would otherwise end at once. False
// when the time ran out.
bool wait_for_interface_name() {
  for (int waited = 0; if_nametoindex("can0") == 0; waited += 100) {
    if (waited >= kMissingInterfaceWaitMs) return false;
    sleep_us(100000);
  }
  return true;
}

int open_can() {
  bool waited_out = !wait_for_interface_name();
  bool brought_up = bring_up();
  // Blocking, with a time-out, so the reader waits in its read (one call a
  // burst, not a poll and a read); writers never wait (MSG_DONTWAIT).
  int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
  if (fd < 0) {
    open_failed("CAN socket open error", errno);
    return -1;
  }
  timeval wait{0, kReadWaitMs * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  can_filter filter{};
  filter.can_id = kCanIdCamera;
  filter.can_mask = CAN_SFF_MASK;
  setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &filter, sizeof filter);
  ifreq& ifr = g_port.interface_request;
  memset(&ifr, 0, sizeof ifr);
  strncpy(ifr.ifr_name, kCanInterface, IFNAMSIZ - 1);
  // Index 0 would bind to every CAN interface; a missing can0 must make the
  // bind fail instead.
  if (ioctl(fd, SIOCGIFINDEX, &ifr) == 0 || (!waited_out && wait_for_interface(fd, &ifr))) {
    if (!brought_up) bring_up();
  } else {
    ifr.ifr_ifindex = -1;
  }
  sockaddr_can& addr = g_port.address;
  memset(&addr, 0, sizeof addr);
  addr.can_family = AF_CAN;
  addr.can_ifindex = ifr.ifr_ifindex;
  int off = 0;
  setsockopt(fd, SOL_CAN_RAW, CAN_RAW_LOOPBACK, &off, sizeof off);
  setsockopt(fd, SOL_CAN_RAW, CAN_RAW_RECV_OWN_MSGS, &off, sizeof off);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    int err = errno;
    close(fd);
    open_failed("CAN socket bind error", err);
    return -1;
  }
  return fd;
}

int open_udp() {
  if (g_port.kind == BusKind::kBad) {
    open_failed("CAN socket open error", 0);
    return -1;
  }
  // As open_can: the reader waits in its read, writers never wait.
  UdpOptions options;
  options.receive_timeout_ms = kReadWaitMs;
  // The old socket of a reopen can outlive its close for a moment: a reader
  // or writer still holds it pinned, or a shell command being started holds
  // a copy between its fork and its exec (close-on-exec acts only at the
  // exec). The port is then busy only until they let go.
  int tries = kBindTries;
  int fd;
  while ((fd = net_udp_open(g_port.udp_local, options)) == -2 && errno == EADDRINUSE && --tries > 0)
    sleep_us(kBindRetryUs);
  if (fd < 0) open_failed(fd == -1 ? "CAN socket open error" : "CAN socket bind error", 0);
  return fd < 0 ? -1 : fd;
}

// Under open_mutex.
void open_locked() {
  log_info("open socket\n");
  int fd = g_port.kind == BusKind::kCan ? open_can() : open_udp();
  if (fd >= 0) install(fd);
}

// The reader (after a read error) and the watchdog (after a stall) both
// reopen, and every bring-up starts with "ip link set can0 down", which
// kills any socket bound to can0. A second reopen on the heels of the first
// would take down the socket the first has just opened, its reader would
// reopen again, and on a slow machine the two never settle. So a reopen is
// asked for with the generation of the socket found faulty and skipped when
// another thread has replaced that socket in the meantime.
void open_unless_replaced(uint32_t seen, bool reopen, bool pause) {
  std::lock_guard<std::mutex> lock(g_port.open_mutex);
  if (current_generation() != seen) return;
  if (reopen) {
    can_close();
    health_add(HEALTH_SOCKET_REOPENS);
  }
  if (pause) sleep_us(100000);
  open_locked();
}

// --- frames on the descriptor -----------------------------------------------

// Every frame waiting on the descriptor, up to kReadBatch, in one call: at
// idle the camera's status arrives as bursts of frames, and a poll and a
// read for each one cost more than the frames' handling.
constexpr unsigned kReadBatch = 32;

struct FrameBatch {
  mmsghdr msgs[kReadBatch];
  iovec iov[kReadBatch];
  union {
    can_frame can[kReadBatch];
    uint8_t wire[kReadBatch][kCanWireSize];
  };
};

// Waits up to kReadWaitMs for the first frame, then takes what else is
// already there. The number of messages read (each may still be unusable:
// see batch_frame), or -1 on a read error or time-out (errno set).
int read_frames(int fd, FrameBatch* b) {
  bool can = g_port.kind == BusKind::kCan;
  for (unsigned i = 0; i < kReadBatch; i++) {
    b->iov[i].iov_base = can ? static_cast<void*>(&b->can[i]) : static_cast<void*>(b->wire[i]);
    b->iov[i].iov_len = can ? sizeof b->can[i] : sizeof b->wire[i];
    b->msgs[i] = mmsghdr{};
    b->msgs[i].msg_hdr.msg_iov = &b->iov[i];
    b->msgs[i].msg_hdr.msg_iovlen = 1;
  }
  // MSG_TRUNC: an overlong datagram reports its real length and is dropped
  // whole, not read as its first 16 bytes.
  return recvmmsg(fd, b->msgs, kReadBatch, MSG_WAITFORONE | (can ? 0 : MSG_TRUNC), nullptr);
}

// Message i of a batch as a frame; false when it is not one (wrong size,
// data length past 8).
bool batch_frame(const FrameBatch& b, unsigned i, CanFrame* f) {
  size_t n = b.msgs[i].msg_len;
  if (g_port.kind != BusKind::kCan) return can_frame_decode(b.wire[i], n, f);
  const can_frame& cf = b.can[i];
  if (n != sizeof cf || cf.len > 8) return false;
  f->can_id = cf.can_id;
  f->len = cf.len;
  memcpy(f->data, cf.data, 8);
  return true;
}

bool write_frame(int fd, const CanFrame& f) {
  if (g_port.kind == BusKind::kCan) {
    can_frame cf{};
    cf.can_id = f.can_id;
    cf.len = f.len;
    memcpy(cf.data, f.data, f.len);
    bool ok = send(fd, &cf, sizeof cf, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof cf);
    if (ok) can_capture_frame(f.can_id, f.data, f.len);
    return ok;
  }
  uint8_t wire[kCanWireSize];
  can_frame_encode(f, wire);
  bool ok = sendto(fd, wire, sizeof wire, MSG_NOSIGNAL | MSG_DONTWAIT,
                   reinterpret_cast<sockaddr*>(&g_port.udp_peer),
                   sizeof g_port.udp_peer) == static_cast<ssize_t>(sizeof wire);
  if (ok) can_capture_frame(f.can_id, f.data, f.len);
  return ok;
}

void deliver(const uint8_t* packet, size_t length, void*) {
  health_add(HEALTH_PACKETS_IN);
  CanPacketHandler h = g_port.handler.load(std::memory_order_relaxed);
  (h ? h : handle_link_packet)(packet, length);
}

void djigo_forward(const uint8_t* data, uint8_t len) {
  std::lock_guard<std::mutex> lock(g_port.djigo_mutex);
  if (!g_port.djigo_connected.load() || g_port.djigo_socket < 0) return;
  // A slow app must not hold up the bus: what does not fit now is dropped.
  ssize_t r = send(g_port.djigo_socket, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
  (void)r;
}

// One pass of the reader loop: wait for the frames waiting on the bus, read
// them at once and handle them one by one, in the order they came.
void reader_step() {
  static FrameBatch batch;  // the reader thread's alone
  health_loop_turn(HEALTH_LOOP_CAN_READER);
  uint32_t generation = 0;
  int fd = pin_current(&generation);
  if (fd < 0) {
    poll(nullptr, 0, 10);  // between a close and the reopen
    return;
  }
  int got = read_frames(fd, &batch);
  int err = errno;
  unpin(fd);
  if (got < 0) {
    // A descriptor retired under us reports its shutdown, not a bus fault;
    // a quiet bus, the time-out.
    if (generation != current_generation() || err == EAGAIN || err == EWOULDBLOCK || err == EINTR)
      return;
    log_error("CAN: read error (%d bytes)\n", got);
    open_unless_replaced(generation, true, true);
    g_port.last_receive_time.store(0);
    return;
  }
  for (int i = 0; i < got; i++) {
    CanFrame frame;
    if (batch_frame(batch, static_cast<unsigned>(i), &frame))
      can_reader_frame(frame.can_id, frame.data, frame.len);
  }
}

}  // namespace

void can_set_spec(const char* bus) {
  std::string s = bus ? bus : "";
  if (s.empty() || s == "can0") {
    g_port.kind = BusKind::kCan;
    return;
  }
  g_port.kind = BusKind::kBad;
  if (s.rfind("udp:", 0) != 0) {
    log_error("CAN: bus not understood: %s\n", s.c_str());
    return;
  }
  uint16_t local = 0;
  sockaddr_in peer{};
  if (!net_parse_udp_pair(s.substr(4), &local, &peer)) {
    log_error("CAN: bus not understood: %s\n", s.c_str());
    return;
  }
  g_port.udp_local = local;
  g_port.udp_peer = peer;
  g_port.kind = BusKind::kUdp;
}

void can_open() {
  std::lock_guard<std::mutex> lock(g_port.open_mutex);
  open_locked();
}

void can_close() {
  log_info("close socket\n");
  std::unique_lock<std::mutex> lock(g_port.mutex);
  int fd = g_port.socket;
  g_port.socket = -1;
  g_port.generation++;
  if (fd >= 0) retire_locked(lock, fd);
}

void can_init() {
  log_info("Init CAN bus\n");
  g_port.last_receive_time.store(time_ms());
}

void* can_reader(void*) {
  // A stall check that came first has opened already.
  open_unless_replaced(0, false, false);
  for (;;) reader_step();
  return nullptr;
}

void can_reader_frame(uint32_t can_id, const uint8_t* data, uint8_t len) {
  health_add(HEALTH_CAN_FRAMES_IN);
  can_capture_frame(can_id, data, len);
  if (can_id != kCanIdCamera || len > 8) return;
  CanAssembler* a = &g_port.assembler;
  if (!can_assembler_accept(a, data, len)) return;
  if (g_port.djigo_connected.load(std::memory_order_relaxed)) djigo_forward(data, len);
  can_assembler_push(a, data, len, deliver, nullptr);
  g_port.last_receive_time.store(time_ms());
}

int can_write_packet(const uint8_t* bytes, size_t length) {
  // One test-and-set: of two writers at the same moment exactly one gets the
  // bus, and the frames of two packets never interleave.
  if (g_port.writer_busy.test_and_set(std::memory_order_acquire)) {
    log_warning("busy\n");
    return -1;
  }
  if (length == 0) {
    g_port.writer_busy.clear(std::memory_order_release);
    return 0;
  }
  int fd = pin_current(nullptr);
  size_t frames = can_frame_count(length);
  for (size_t i = 0; i < frames; i++) {
    CanFrame f = can_frame_chunk(kCanIdDaemon, bytes, length, i);
    for (int left = 2; left >= 0; left--) {
      if (fd >= 0 && write_frame(fd, f)) {
        health_add(HEALTH_CAN_FRAMES_OUT);
        break;
      }
      log_warning("send again %d\n", left);
      sleep_us(1000);
    }
  }
  if (fd >= 0) unpin(fd);
  health_add(HEALTH_PACKETS_OUT);
  g_port.writer_busy.clear(std::memory_order_release);
  return static_cast<int>(length);
}

void can_check_stall() {
  uint32_t seen = current_generation();
  uint32_t last = g_port.last_receive_time.load();
  if (last == 0) return;
  int32_t delta = time_age(time_ms(), last);
  log_health("CAN delta %d\n", delta);
  fflush(stdout);
  if (delta >= 101) {
    g_port.last_receive_time.store(0);
    can_reopen_unless_replaced(seen);
  }
}

uint32_t can_generation() { return current_generation(); }
void can_reopen_unless_replaced(uint32_t seen) { open_unless_replaced(seen, true, false); }

uint32_t can_last_receive_time() { return g_port.last_receive_time.load(); }
void can_set_last_receive_time(uint32_t t) { g_port.last_receive_time.store(t); }

void can_djigo_attach(int socket) {
  std::lock_guard<std::mutex> lock(g_port.djigo_mutex);
  g_port.djigo_socket = socket;
  g_port.djigo_connected.store(1);
}

void can_djigo_detach() {
  std::lock_guard<std::mutex> lock(g_port.djigo_mutex);
  g_port.djigo_connected.store(0);
  if (g_port.djigo_socket >= 0) close(g_port.djigo_socket);
  g_port.djigo_socket = -1;
}

bool can_djigo_connected() { return g_port.djigo_connected.load() != 0; }

void can_set_packet_handler(CanPacketHandler handler) { g_port.handler.store(handler); }

void can_reader_reset() { can_assembler_reset(&g_port.assembler); }
