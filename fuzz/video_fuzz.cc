// fuzz_video: the video relay's receive rule and fan-out. Datagrams from
// chosen sources, with the kernel's cut flag, go through video_take; viewers
// register and expire, the allow list changes, and the watchdog runs. The
// fan-out goes to a local socket pair (its sends to viewer addresses fail at
// once: nothing leaves the process), so the whole path to the send is run.
// Every relayed datagram must reach the framer as channel 1 with its bytes
// unchanged; nothing refused may reach it.
//
// Input: records [op][a][b][bytes...]:
//   op % 4 == 0  register viewer (address a % 6, port b + 1; op bit 2: data only)
//   op % 4 == 1  one datagram of a * 8 + b % 8 bytes from source b >> 3 (of 32:
//                loopback, admitted and refused), op bit 2: cut by the kernel
//   op % 4 == 2  allow list: op bit 2 clear: everyone, set: 192.168.2.0/24
//   op % 4 == 3  the clock moves a * 20 ms; the watchdog and expiry run
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/hud_block.h"
#include "fuzz/fuzz_harness.h"
#include "viewer/client_table.h"
#include "viewer/discovery.h"
#include "viewer/video_source.h"
#include "viewer/viewer_allow.h"
#include "viewer/viewer_send.h"

namespace {

uint8_t g_hud[kHudSize];
std::vector<uint8_t> g_frame(kViewerHeaderSize + kVideoDatagramMax + 64);
std::vector<uint8_t> g_expected;
int g_video_seen = 0;

void tap(int channel, const uint8_t* payload, size_t length) {
  if (channel != 1) return;
  if (length != g_expected.size() || memcmp(payload, g_expected.data(), length) != 0) abort();
  g_video_seen++;
}

const char* const kViewers[] = {"127.0.0.1",    "127.0.0.2", "192.168.2.40",
                                "192.168.2.41", "10.0.0.7",  "192.168.9.9"};

sockaddr_in source(uint8_t pick) {
  // Loopback, the admitted LAN and a refused one, several hosts each.
  static const uint32_t kNets[] = {0x7F000000, 0xC0A80200, 0xC0A80900, 0x0A000000};
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(kNets[pick & 3] | (1u + (pick >> 2)));
  a.sin_port = htons(5000);
  return a;
}

bool admitted(const sockaddr_in& a, bool lan_only) {
  uint32_t host = ntohl(a.sin_addr.s_addr);
  return (host >> 24) == 127 || !lan_only || (host & 0xFFFFFF00u) == 0xC0A80200u;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_quiet_stderr(argc, argv);  // "client connected" lines would flood the output
  fuzz_sandbox_start("fuzz-video");
  hud_set_block(g_hud);
  viewer_set_tap(tap);
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) abort();
  discovery_set_socket(pair[0]);
  client_set_max_per_address(kClientPerAddressDefault);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  client_table_clear();
  viewer_allow_set({});
  bool lan_only = false;
  std::vector<ViewerAllowNet> lan;
  std::string error;
  viewer_allow_parse("192.168.2.0/24", &lan, &error);
  size_t at = 0;
  while (at + 3 <= size) {
    uint8_t op = data[at], a = data[at + 1], b = data[at + 2];
    at += 3;
    switch (op & 3) {
      case 0:
        client_register(kViewers[a % 6], static_cast<uint16_t>(b + 1), (op >> 2) & 1);
        break;
      case 1: {
        size_t n = a * 8u + b % 8u;
        if (n > size - at) n = size - at;
        size_t copy = n;
        // Now and then the length the kernel would report for a datagram
        // longer than the buffer.
        if ((op & 8) && n > 0) n += kVideoDatagramMax;
        memcpy(g_frame.data() + kViewerHeaderSize, data + at, copy);
        at += copy;
        sockaddr_in from = source(b >> 3);
        bool cut = (op >> 2) & 1;
        g_expected.assign(g_frame.begin() + kViewerHeaderSize,
                          g_frame.begin() + kViewerHeaderSize + static_cast<long>(copy));
        int seen = g_video_seen;
        bool relayed = video_take(g_frame.data(), n, cut ? MSG_TRUNC : 0, from);
        bool want = n > 0 && n <= kVideoDatagramMax && !cut && admitted(from, lan_only);
        if (relayed != want) abort();
        // The framer sees it unless the stream is disabled.
        if (g_video_seen > seen + 1 || (!relayed && g_video_seen != seen)) abort();
        if (relayed && video_connected() != 1) abort();
        break;
      }
      case 2:
        lan_only = (op >> 2) & 1;
        viewer_allow_set(lan_only ? lan : std::vector<ViewerAllowNet>{});
        break;
      case 3:
        fake_clock_advance(a * 20u);
        video_watchdog();
        client_expire();
        break;
    }
  }
  viewer_allow_set({});
  return 0;
}
