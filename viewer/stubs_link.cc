// Stand-ins until the viewer link lands.
#include "viewer/discovery.h"
#include "viewer/video_source.h"
#include "viewer/viewer_send.h"

int viewer_send_one(const uint8_t*, size_t, const char*, uint16_t) { return -1; }
void viewer_send(const uint8_t*, size_t, int) {}
void viewer_forward_video(const uint8_t*, size_t) {}
void viewer_send_short16(uint8_t, int, int, int) {}
void viewer_send_short8(uint8_t, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t) {}
void viewer_set_tap(ViewerTap) {}
void video_bridge_init() {}
void discovery_init() {}
void viewer_handle_message(const uint8_t*, size_t, const char*, uint16_t) {}
int client_register(const char*, uint16_t, uint8_t) { return 0; }
int client_remove(const char*, uint16_t) { return 0; }
void client_expire() {}
void video_source_init() {}
void video_watchdog() {}
