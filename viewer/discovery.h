// Viewer discovery on the viewer port (UDP 4242 on the Pi) and the table of
// registered viewers.
//
// Viewer datagram, as received: 'B', 11 header bytes that are not examined,
// then the message (at most 1488 bytes; bytes past the end read as 0).
// Message byte 0 is the type; multi-byte values are i16 little-endian:
//
//   42 00.. 00 | 00 01             register as data-only viewer (byte 1 == 1)
//   42 00.. 00 | 00 00             register as full viewer (any other byte 1)
//   42 00.. 00 |                   (header only) = type 0, byte 1 = 0: full
//   42 00.. 00 | 01                remove the sender
//   42 00.. 00 | 05 m aa aa bb bb  viewer_motion_command(m, a, b)
//   42 00.. 00 | 06 xx xx q0 q0 q1 q1 q2 q2 q3 q3
//                                  gimbal_attitude_set(q0/32767.0f, ...)
//   42 00.. 00 | 7B ...            '{': JSON command to a command worker
//
// A new registration is answered with the single byte 42 ('B') and nothing
// else; a refresh is not answered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>

inline constexpr size_t kViewerDatagramMax = 1500;

void video_bridge_init();
// Binds the viewer port; a failure says why and ends the daemon (status
// 100). On true app/ starts discovery_receive_loop.
bool discovery_init();
// Thread body: takes viewer datagrams until the process ends.
void* discovery_receive_loop(void*);
void viewer_handle_message(const uint8_t* msg, size_t length, const char* address, uint16_t port);
int client_register(const char* address, uint16_t port, uint8_t data_only);
int client_remove(const char* address, uint16_t port);
void client_expire();

// One received datagram (at most kViewerDatagramMax bytes used): the 'B' and
// length checks, then viewer_handle_message. The receive loop's body.
void discovery_handle_datagram(const uint8_t* bytes, size_t length, const sockaddr_in& from);

// True for a datagram another device sent: from the device viewer port (4242
// or ours), or with the device's video framing (header byte 1 is 1), which no
// viewer sends. Such datagrams are ignored, so that two devices that learn of
// each other never register and command each other in a loop.
bool discovery_from_device(const uint8_t* bytes, size_t length, const sockaddr_in& from);

// The discovery socket, shared with the sender; -1 before discovery_init.
int discovery_socket();
// Test seam: tests hand the sender a socket of their own.
void discovery_set_socket(int fd);

// Where messages of types 5, 6 and 123 go. app/ installs
// viewer_motion_command and gimbal_attitude_set at start-up (they live on a
// floor above); command defaults to command_worker_start. Null entries drop
// the message.
struct ViewerControlHooks {
  void (*motion)(int mode, int a, int b);
  void (*attitude)(float q0, float q1, float q2, float q3);
  void (*command)(const char* text, size_t length);
};
void viewer_install_control_hooks(const ViewerControlHooks& hooks);
// Test seam: replaces the installed hooks for a while; nullptr restores them.
void viewer_set_control_hooks(const ViewerControlHooks* hooks);
