#include "link/link_packet.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "link/can_transport.h"
#include "link/link_state.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace {

// Table of the reflected CCITT polynomial 0x8408, built at compile time.
constexpr std::array<uint16_t, 256> make_crc16_table() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; i++) {
    uint16_t v = static_cast<uint16_t>(i);
    for (int b = 0; b < 8; b++)
      v = (v & 1) ? static_cast<uint16_t>((v >> 1) ^ 0x8408) : static_cast<uint16_t>(v >> 1);
    t[i] = v;
  }
  return t;
}
constexpr auto kCrc16Table = make_crc16_table();
static_assert(kCrc16Table[1] == 0x1189 && kCrc16Table[128] == 0x8408 && kCrc16Table[255] == 0x0F78);

constexpr uint16_t kCrc16Start = 0x3692;

std::atomic<LinkWriter> g_writer{nullptr};

int write_packet(const uint8_t* bytes, size_t length) {
  LinkWriter w = g_writer.load(std::memory_order_relaxed);
  return w ? w(bytes, length) : can_write_packet(bytes, length);
}

void store_crc16(uint8_t* packet, size_t length) {
  if (length < 2) return;
  uint16_t crc = length == 2 ? kCrc16Start : link_crc16(packet, length - 2);
  packet[length - 2] = static_cast<uint8_t>(crc & 0xFF);
  packet[length - 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace

uint16_t link_crc16(const uint8_t* bytes, size_t n) {
  uint16_t v = kCrc16Start;
  for (size_t i = 0; i < n; i++)
    v = static_cast<uint16_t>(kCrc16Table[(v ^ bytes[i]) & 0xFF] ^ (v >> 8));
  return v;
}

int link_send(uint8_t* packet, size_t length) {
  // Taking a number is one indivisible step so two senders never share one.
  uint32_t c = link_state().sequence.fetch_add(1, std::memory_order_relaxed);
  if (length >= 8) {
    packet[6] = static_cast<uint8_t>(c & 0xFF);
    packet[7] = static_cast<uint8_t>((c >> 8) & 0xFF);
  }
  store_crc16(packet, length);
  int r = write_packet(packet, length);
  if (r != -1) return r;
  for (int left = 2; left >= 1; left--) {
    sleep_us(500);
    log_warning("need to send again %d\n", left);
    if (left == 2) {
      r = write_packet(packet, length);
      if (r != -1) return r;
    }
  }
  return r;
}

int link_send_unsequenced(uint8_t* packet, size_t length) {
  store_crc16(packet, length);
  return write_packet(packet, length);
}

void link_set_writer(LinkWriter writer) { g_writer.store(writer); }

float link_f32(const uint8_t* p, size_t off) {
  uint32_t bits = link_u32(p, off);
  float v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

void link_put_f32(uint8_t* p, size_t off, float v) {
  uint32_t bits;
  memcpy(&bits, &v, sizeof bits);
  link_put_u32(p, off, bits);
}
