#include "tools/packet_build.h"

#include <cstring>

#include "link/link_packet.h"

size_t link_packet_build(uint8_t* out, size_t cap, const LinkFields& f, const uint8_t* payload,
                         size_t payload_len) {
  size_t n = kLinkOverhead + payload_len;
  if (n > kLinkMaxPacket || n > cap) return 0;
  out[4] = f.sender;
  out[5] = f.receiver;
  out[6] = static_cast<uint8_t>(f.sequence);
  out[7] = static_cast<uint8_t>(f.sequence >> 8);
  out[8] = f.type;
  out[9] = f.set;
  out[10] = f.id;
  if (payload_len) memcpy(out + kLinkHeaderSize, payload, payload_len);
  link_packet_seal(out, n);
  return n;
}

void link_packet_seal(uint8_t* packet, size_t n) {
  if (n < kLinkOverhead || n > kLinkMaxPacket) return;
  packet[0] = 0x55;
  packet[1] = static_cast<uint8_t>(n);
  packet[2] = 0x04;
  packet[3] = link_crc8(packet, 3);
  uint16_t crc = link_crc16(packet, n - 2);
  packet[n - 2] = static_cast<uint8_t>(crc);
  packet[n - 1] = static_cast<uint8_t>(crc >> 8);
}

bool link_packet_intact(const uint8_t* packet, size_t n) {
  return n >= 2 && packet[0] == 0x55 && packet[1] == n && link_crc16(packet, n) == 0;
}

LinkFields link_packet_fields(const uint8_t* p) {
  LinkFields f;
  f.sender = p[4];
  f.receiver = p[5];
  f.sequence = link_u16(p, 6);
  f.type = p[8];
  f.set = p[9];
  f.id = p[10];
  return f;
}
