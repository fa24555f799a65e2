// fuzz_viewer: arbitrary datagrams through the viewer receive path
// (discovery_handle_datagram, viewer_handle_message, the client table) and
// through pqw-viewer's decoder of what the daemon sends.
//
// Input: a sequence of records [source byte][clock step byte][length byte]
// [length bytes]. The source byte picks one of 32 senders (4 addresses x 8
// ports, one of them the device's own port), the clock step advances the
// injected clock by step * 40 ms and runs client_expire, so registration,
// refresh, removal, a full table and expiry all get exercised.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/hud_block.h"
#include "fuzz/fuzz_harness.h"
#include "platform/ports.h"
#include "testing/fake_clock.h"
#include "tools/viewer_decode.h"
#include "viewer/client_table.h"
#include "viewer/discovery.h"
#include "viewer/viewer_send.h"

namespace {

uint8_t g_hud[kHudSize];

void no_motion(int, int, int) {}
void no_attitude(float, float, float, float) {}
void no_command(const char* text, size_t length) {
  // The worker gets a NUL-terminated text of the stated length.
  if (strnlen(text, length + 1) > length) __builtin_trap();
}

void check_table() {
  int occupied = 0;
  for (int i = 0; i < kClientSlots; i++) {
    ClientEntry e = client_slot(i);
    if (e.address[0] == 0) {
      if (e.port != 0) __builtin_trap();
      continue;
    }
    occupied++;
    if (e.port == 0 || strnlen(e.address, sizeof e.address) >= sizeof e.address) __builtin_trap();
    for (int j = 0; j < i; j++) {
      ClientEntry o = client_slot(j);
      if (o.port == e.port && strcmp(o.address, e.address) == 0) __builtin_trap();
    }
  }
  if (occupied != client_count()) __builtin_trap();
  // No address over its share of the slots.
  for (int i = 0; i < kClientSlots; i++) {
    ClientEntry e = client_slot(i);
    if (e.address[0] == 0) continue;
    int same = 0;
    for (int j = 0; j < kClientSlots; j++) same += strcmp(client_slot(j).address, e.address) == 0;
    if (same > client_max_per_address()) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_quiet_stderr(argc, argv);  // "client connected" lines would flood the output
  fake_clock_install(1000, false);
  hud_set_block(g_hud);
  discovery_set_socket(-1);  // nothing leaves the process
  net_ports().viewer = 4242;
  ViewerControlHooks hooks{no_motion, no_attitude, no_command};
  viewer_set_control_hooks(&hooks);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  client_table_clear();
  fake_clock_set(1000);
  static const char* kAddresses[] = {"127.0.0.1", "10.0.0.7", "192.168.1.20", "127.0.0.2"};
  static const uint16_t kPorts[] = {4242, 1, 5000, 40000, 40001, 65535, 2, 3};
  size_t at = 0;
  while (at + 3 <= size) {
    uint8_t source = data[at], step = data[at + 1];
    size_t length = data[at + 2] * 8u + (source >> 5);
    at += 3;
    if (length > size - at) length = size - at;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, kAddresses[source & 3], &from.sin_addr);
    from.sin_port = htons(kPorts[(source >> 2) & 7]);
    discovery_handle_datagram(data + at, length, from);
    viewer_decode_json(data + at, length);
    at += length;
    fake_clock_advance(step * 40u);
    client_expire();
    check_table();
    if (hud_get_u8(g_hud, HUD_CLIENT_COUNT) != client_count()) __builtin_trap();
  }
  // Whatever is left goes in whole, as one datagram.
  if (at < size) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    from.sin_port = htons(40000);
    discovery_handle_datagram(data + at, size - at, from);
    viewer_decode_json(data + at, size - at);
    check_table();
  }
  return 0;
}
