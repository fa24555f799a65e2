#include "viewer/client_table.h"

#include <arpa/inet.h>
#include <cstdio>
#include <atomic>
#include <cstring>
#include <mutex>

#include "core/hud_block.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace {

struct ClientTable {
  std::mutex lock;
  ClientEntry slots[kClientSlots];
  // The address of each occupied slot, parsed once at registration so the
  // fan-out never parses text per datagram.
  sockaddr_in addr[kClientSlots];
  // A new viewer waits for its one-byte reply before it reads anything else,
  // so its slot joins the fan-out only once the reply is out.
  bool answered[kClientSlots];
};

ClientTable g_table;
std::atomic<int> g_max_per_address{kClientPerAddressDefault};

bool slot_free(const ClientEntry& e) { return e.address[0] == 0; }

void slot_clear(int i) {
  memset(&g_table.slots[i], 0, sizeof g_table.slots[i]);
  memset(&g_table.addr[i], 0, sizeof g_table.addr[i]);
  g_table.answered[i] = false;
}

bool slot_matches(const ClientEntry& e, const char* address, uint16_t port) {
  return !slot_free(e) && e.port == port && strcmp(e.address, address) == 0;
}

// Viewers come from recvfrom, so their texts are always dotted quads; anything
// else (empty, overlong, unparsable) could never be sent to and would only
// hold a slot.
bool address_usable(const char* address, sockaddr_in* out) {
  if (!address || !address[0]) return false;
  if (strnlen(address, sizeof(ClientEntry::address)) >= sizeof(ClientEntry::address)) return false;
  memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  return inet_pton(AF_INET, address, &out->sin_addr) == 1;
}

}  // namespace

void client_table_clear() {
  std::lock_guard<std::mutex> guard(g_table.lock);
  for (int i = 0; i < kClientSlots; i++) slot_clear(i);
}

int client_register(const char* address, uint16_t port, uint8_t data_only) {
  sockaddr_in addr;
  if (port == 0 || !address_usable(address, &addr)) return 0;
  addr.sin_port = htons(port);
  uint32_t now = time_ms();
  std::lock_guard<std::mutex> guard(g_table.lock);
  for (int i = 0; i < kClientSlots; i++) {
    ClientEntry& e = g_table.slots[i];
    if (slot_matches(e, address, port)) {
      e.last_seen = now;
      e.data_only = data_only;
      return 0;
    }
  }
  int same_address = 0;
  for (const ClientEntry& e : g_table.slots)
    if (!slot_free(e) && strcmp(e.address, address) == 0) same_address++;
  if (same_address >= g_max_per_address.load(std::memory_order_relaxed))
    return kClientRefusedAddressFull;
  for (int i = 0; i < kClientSlots; i++) {
    ClientEntry& e = g_table.slots[i];
    if (!slot_free(e)) continue;
    snprintf(e.address, sizeof e.address, "%s", address);
    e.port = port;
    e.last_seen = now;
    e.data_only = data_only;
    g_table.addr[i] = addr;
    g_table.answered[i] = false;
    return 1;
  }
  return 0;
}

void client_answered(const char* address, uint16_t port) {
  if (!address) return;
  std::lock_guard<std::mutex> guard(g_table.lock);
  for (int i = 0; i < kClientSlots; i++)
    if (slot_matches(g_table.slots[i], address, port)) g_table.answered[i] = true;
}

int client_remove(const char* address, uint16_t port) {
  if (!address) return 0;
  std::lock_guard<std::mutex> guard(g_table.lock);
  for (int i = 0; i < kClientSlots; i++) {
    if (slot_matches(g_table.slots[i], address, port)) {
      slot_clear(i);
      return 1;
    }
  }
  return 0;
}

void client_expire() {
  uint32_t now = time_ms();
  int count = 0;
  ClientEntry lost[kClientSlots];
  int n_lost = 0;
  {
    std::lock_guard<std::mutex> guard(g_table.lock);
    for (int i = 0; i < kClientSlots; i++) {
      ClientEntry& e = g_table.slots[i];
      if (slot_free(e)) continue;
      if (time_age(now, e.last_seen) > kClientTimeoutMs) {
        lost[n_lost++] = e;
        slot_clear(i);
        continue;
      }
      count++;
    }
  }
  // Printed outside the lock: stderr may be a pipe that blocks.
  for (int i = 0; i < n_lost; i++)
    log_warning("Client %s:%d lost\n", lost[i].address, static_cast<int>(lost[i].port));
  if (uint8_t* hud = hud_block()) hud_set_u8(hud, HUD_CLIENT_COUNT, static_cast<uint8_t>(count));
}

int client_destinations(ClientDest* out) {
  int n = 0;
  std::lock_guard<std::mutex> guard(g_table.lock);
  for (int i = 0; i < kClientSlots; i++) {
    const ClientEntry& e = g_table.slots[i];
    if (e.port == 0 || !g_table.answered[i]) continue;
    out[n].addr = g_table.addr[i];
    out[n].data_only = e.data_only;
    n++;
  }
  return n;
}

ClientEntry client_slot(int index) {
  ClientEntry copy{};
  if (index < 0 || index >= kClientSlots) return copy;
  std::lock_guard<std::mutex> guard(g_table.lock);
  copy = g_table.slots[index];
  return copy;
}

int client_count() {
  int n = 0;
  std::lock_guard<std::mutex> guard(g_table.lock);
  for (const ClientEntry& e : g_table.slots) n += slot_free(e) ? 0 : 1;
  return n;
}

void client_set_max_per_address(int slots) {
  g_max_per_address.store(slots < 1 ? 1 : slots > kClientSlots ? kClientSlots : slots);
}

int client_max_per_address() { return g_max_per_address.load(); }
