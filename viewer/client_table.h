// ClientTable: the 20 registered viewers, slot 0 first.
//
// A viewer is the pair (dotted address text, UDP source port); registering is
// also the keep-alive, and a viewer silent for more than 5000 ms is dropped by
// client_expire. client_register, client_remove and client_expire are
// declared in viewer/discovery.h.
//
// Many threads send to the viewers while the discovery thread and the
// supervisor change the table, so every access takes the table's mutex and
// senders take copies (client_destinations) and send outside the lock: a
// slow viewer can then hold up a sender for at most the socket's 50 ms send
// time-out, and never the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>

#include "viewer/discovery.h"

inline constexpr int kClientSlots = 20;
inline constexpr int32_t kClientTimeoutMs = 5000;
// Slots one address may hold unless --viewer-max-per-address says otherwise:
// one host with many source ports must not take the slots of every other.
inline constexpr int kClientPerAddressDefault = 4;
// client_register's answer for a new viewer whose address already holds its
// share of the slots (nothing is registered).
inline constexpr int kClientRefusedAddressFull = -1;

struct ClientEntry {
  char address[20];    // dotted IPv4 text, NUL-terminated; "" marks a free slot
  uint32_t port;       // host order; 0 in a free slot
  uint32_t last_seen;  // time_ms of the last registration
  uint8_t data_only;   // bit 0: no video for this viewer
};

// One send destination, copied out of an occupied slot.
struct ClientDest {
  sockaddr_in addr;
  uint8_t data_only;
};

// Marks every slot free.
void client_table_clear();

// The registration reply has gone to this viewer: from now on the fan-out
// (client_destinations) includes it. A slot client_register took stays out
// of it until then, so 'B' is the first datagram a new viewer hears.
void client_answered(const char* address, uint16_t port);

// Copies the answered occupied slots in slot order into out[kClientSlots];
// returns how many.
int client_destinations(ClientDest* out);

// A copy of one slot (a zeroed entry for an index out of range).
ClientEntry client_slot(int index);

// Number of occupied slots right now.
int client_count();

// The per-address share, 1 to kClientSlots (a value outside is clamped);
// client_table_clear leaves it as it is.
void client_set_max_per_address(int slots);
int client_max_per_address();
