// Stand-ins until the viewer link lands.
#include <atomic>

#include "viewer/discovery.h"
#include "viewer/video_source.h"
#include "viewer/viewer_send.h"

int viewer_send_one(const uint8_t*, size_t, const char*, uint16_t) { return -1; }
// The stand-in sender hands every message to the test tap, so that other
// subsystems can test what they tell viewers before the real sender lands.
static std::atomic<ViewerTap> g_tap{nullptr};
void viewer_send(const uint8_t* p, size_t n, int channel) {
  if (auto t = g_tap.load()) t(channel, p, n);
}
void viewer_forward_video(const uint8_t*, size_t) {}
void viewer_send_short16(uint8_t code, int a, int b, int c) {
  uint8_t m[7] = {code, uint8_t(a), uint8_t(a >> 8), uint8_t(b), uint8_t(b >> 8), uint8_t(c), uint8_t(c >> 8)};
  viewer_send(m, 7, 0);
}
void viewer_send_short8(uint8_t code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5, uint8_t b6) {
  uint8_t m[7] = {code, b1, b2, b3, b4, b5, b6};
  viewer_send(m, 7, 0);
}
void viewer_set_tap(ViewerTap tap) { g_tap.store(tap); }
void video_bridge_init() {}
void discovery_init() {}
void viewer_handle_message(const uint8_t*, size_t, const char*, uint16_t) {}
int client_register(const char*, uint16_t, uint8_t) { return 0; }
int client_remove(const char*, uint16_t) { return 0; }
void client_expire() {}
void video_source_init() {}
void video_watchdog() {}
