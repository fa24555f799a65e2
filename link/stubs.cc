// Stand-ins until the camera link lands.
#include "link/data_source.h"
#include "link/can_transport.h"
#include "link/link_state.h"

void can_set_spec(const char*) {}
void can_open() {}
void can_close() {}
void can_start() {}
void* can_reader(void*) { return nullptr; }
int can_write_packet(const uint8_t*, size_t length) { return static_cast<int>(length); }
void can_check_stall() {}
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
