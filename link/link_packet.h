// LinkPacket: 0x55, length, 0x04, header CRC8, sender, receiver, sequence
// (u16 LE), command type, set, id, payload, CRC16 (LE).
#pragma once

#include <cstddef>
#include <cstdint>

uint8_t link_crc8(const uint8_t* bytes, size_t n);
uint16_t link_crc16(const uint8_t* bytes, size_t n);

// Stamps the next sequence number and the CRC16, then writes the packet
// (two attempts 500 us apart while the writer is busy).
int link_send(uint8_t* packet, size_t length);
// Stores the CRC16 and writes once; the sequence bytes stay as they are.
int link_send_unsequenced(uint8_t* packet, size_t length);

// Test seam: replaces can_write_packet as the writer of both send operations.
using LinkWriter = int (*)(const uint8_t* bytes, size_t length);
void link_set_writer(LinkWriter writer);  // nullptr: can_write_packet
