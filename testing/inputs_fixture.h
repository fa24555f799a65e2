// Helpers shared by the RC, I2C, shield and media listing tests: a packet
// capture on the link writer, a fake clock whose sleeps advance it, and a
// throw-away root with a shell sandbox (TestSandbox, testing/sandbox.h).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/config_record.h"
#include "control/camera_ops.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "testing/link_capture.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/spawn.h"
#include "testing/fake_clock.h"
#include "testing/sandbox.h"

namespace inputs_test {

// Packets as the bus would see them, in hex; the sequence bytes (6, 7) show
// as ".." and the CRC16 is checked and left off, so that expectations read
// like the packet tables: "55 0E 04 66 02 01 .. .. 40 02 2E 19".
inline std::mutex g_packets_mutex;
inline std::vector<std::string> g_packets;

inline int capture_writer(const uint8_t* bytes, size_t length) {
  std::string s;
  if (length < 13) {
    s = "SHORT " + to_hex(bytes, length);
  } else {
    uint16_t crc = link_crc16(bytes, length - 2);
    bool ok = bytes[length - 2] == (crc & 0xFF) && bytes[length - 1] == (crc >> 8) &&
              bytes[1] == length && link_crc8(bytes, 3) == bytes[3];
    s = to_hex(bytes, 6) + " .. .. " + to_hex(bytes + 8, length - 10);
    if (!ok) s = "BADCRC " + s;
  }
  std::lock_guard<std::mutex> lock(g_packets_mutex);
  g_packets.push_back(s);
  return static_cast<int>(length);
}

inline std::vector<std::string> take_packets() {
  std::lock_guard<std::mutex> lock(g_packets_mutex);
  std::vector<std::string> v;
  v.swap(g_packets);
  return v;
}

// The camera operations' shared state as at process start, link up.
inline void reset_link_state() {
  link_test_reset_state();
  link_state().link_up.store(1);
}

// pyftpdlib on 127.0.0.1 serving a card directory, port chosen by the
// kernel; every NLST it answers adds one byte to count_file.
inline const char kFtpServerScript[] = R"PY(
import os, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
import logging
logging.disable(logging.CRITICAL)
card, port_file, count_file = sys.argv[1], sys.argv[2], sys.argv[3]
auth = DummyAuthorizer()
auth.add_anonymous(card)
class Handler(FTPHandler):
    def ftp_NLST(self, path):
        with open(count_file, "a") as f:
            f.write("x")
        return FTPHandler.ftp_NLST(self, path)
Handler.authorizer = auth
server = FTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.socket.getsockname()[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
)PY";

inline bool tcp_accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

struct FtpServer {
  pid_t pid = -1;
  int port = 0;
  // Starts the server (script, port file and count file in work_dir) and
  // waits until it accepts connections.
  bool start(const std::string& work_dir, const std::string& card, const std::string& count_file) {
    std::string script = work_dir + "/ftp_server.py", port_file = work_dir + "/ftp_port";
    std::ofstream(script) << kFtpServerScript;
    pid = spawn_process({"/usr/bin/python3", script, card, port_file, count_file});
    if (pid < 0) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(port_file);
      if (in >> port && tcp_accepts(port)) return true;
      port = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  ~FtpServer() { spawn_stop(pid); }
};

// Packet builders for the templates the inputs drive.
inline std::string le16(int v) {
  uint16_t u = static_cast<uint16_t>(v);
  uint8_t b[2] = {static_cast<uint8_t>(u & 0xFF), static_cast<uint8_t>(u >> 8)};
  return to_hex(b, 2);
}
inline std::string f32(float f) {
  uint8_t b[4];
  memcpy(b, &f, 4);
  return to_hex(b, 4);
}
// gimbal_speed: pan, dutch, tilt, then 0x90.
inline std::string speed_packet(int pan, int tilt, int dutch) {
  return "55 14 04 6D 02 04 .. .. 40 04 0C " + le16(pan) + " " + le16(dutch) + " " + le16(tilt) +
         " 90";
}
// Remote-control button packet: sender 0x09, bytes 11..20 given.
inline std::string button_packet(uint8_t receiver, uint8_t type, const std::string& payload) {
  char head[64];
  snprintf(head, sizeof head, "55 17 04 38 09 %02X .. .. %02X 01 01 ", receiver, type);
  return head + payload;
}
// A gimbal button (type 0x40): the code and its check byte (code ^ 0x91).
inline std::string gimbal_button(uint8_t receiver, uint8_t code) {
  char b[64];
  snprintf(b, sizeof b, "00 00 00 00 %02X 91 00 00 00 %02X", code, code ^ 0x91);
  return button_packet(receiver, 0x40, b);
}

}  // namespace inputs_test
