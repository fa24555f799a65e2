#include "platform/health.h"

#include <atomic>

namespace {

struct HealthEntry {
  const char* name;
  std::atomic<uint64_t> value;
};

HealthEntry g_counters[HEALTH_COUNTERS] = {
    {"can_frames_in", {}},  {"can_frames_out", {}},  {"packets_in", {}},
    {"packets_out", {}},    {"crc_rejects", {}},     {"length_rejects", {}},
    {"socket_reopens", {}}, {"video_in", {}},        {"video_relayed", {}},
    {"video_dropped", {}},  {"commands_run", {}},    {"commands_dropped", {}},
    {"config_saves", {}},   {"capture_dropped", {}},
};

HealthEntry g_loops[HEALTH_LOOPS] = {
    {"video relay", {}},
    {"viewer receive", {}},
    {"CAN reader", {}},
    {"command dispatcher", {}},
};

}  // namespace

void health_add(HealthCounter c, uint64_t n) {
  if (c >= 0 && c < HEALTH_COUNTERS) g_counters[c].value.fetch_add(n, std::memory_order_relaxed);
}
uint64_t health_get(HealthCounter c) {
  return c >= 0 && c < HEALTH_COUNTERS ? g_counters[c].value.load(std::memory_order_relaxed) : 0;
}
const char* health_name(HealthCounter c) {
  return c >= 0 && c < HEALTH_COUNTERS ? g_counters[c].name : "";
}

void health_loop_turn(HealthLoop l) {
  if (l >= 0 && l < HEALTH_LOOPS) g_loops[l].value.fetch_add(1, std::memory_order_relaxed);
}
uint64_t health_loop_turns(HealthLoop l) {
  return l >= 0 && l < HEALTH_LOOPS ? g_loops[l].value.load(std::memory_order_relaxed) : 0;
}
const char* health_loop_name(HealthLoop l) {
  return l >= 0 && l < HEALTH_LOOPS ? g_loops[l].name : "";
}

void health_reset() {
  for (HealthEntry& e : g_counters) e.value.store(0);
  for (HealthEntry& e : g_loops) e.value.store(0);
}
