// Stand-ins until the camera link lands.
#include "link/data_source.h"
#include "link/link_packet.h"
#include "link/link_state.h"

uint8_t link_crc8(const uint8_t*, size_t) { return 0; }
uint16_t link_crc16(const uint8_t*, size_t) { return 0; }
int link_send(uint8_t*, size_t) { return 0; }
int link_send_unsequenced(uint8_t*, size_t) { return 0; }
void link_set_writer(LinkWriter) {}
LinkState& link_state() {
  static LinkState state;
  return state;
}
std::atomic<int32_t> rc_aperture_index{-1};
std::atomic<int32_t> rc_shutter_index{-1};
void data_source_init() {}
void link_watchdog() {}
void camera_set_datetime(int, int, int, int, int, int) {}
void camera_send_mac() {}
int time_part(time_t, const char*) { return -1; }
