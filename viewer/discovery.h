// Viewer discovery on UDP 4242 and the table of registered viewers.
#pragma once

#include <cstddef>
#include <cstdint>

void video_bridge_init();
void discovery_init();
void viewer_handle_message(const uint8_t* msg, size_t length, const char* address, uint16_t port);
int client_register(const char* address, uint16_t port, uint8_t data_only);
int client_remove(const char* address, uint16_t port);
void client_expire();
