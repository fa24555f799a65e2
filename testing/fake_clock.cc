#include "testing/fake_clock.h"

#include <atomic>

#include "platform/clock.h"

namespace {

std::atomic<uint64_t> g_now_us{0};  // microseconds, so that 500 us sleeps add up
std::atomic<uint64_t> g_tick_us{0};
std::atomic<uint64_t> g_slept_us{0};
std::atomic<bool> g_sleep_faked{false};

uint32_t fake_now() { return static_cast<uint32_t>(g_now_us.fetch_add(g_tick_us.load()) / 1000); }

void fake_sleep(uint32_t us) {
  g_slept_us.fetch_add(us);
  g_now_us.fetch_add(us);
}

}  // namespace

void fake_clock_install(uint32_t start_ms, bool fake_sleep_too) {
  fake_clock_set(start_ms);
  g_tick_us.store(0);
  g_slept_us.store(0);
  g_sleep_faked.store(fake_sleep_too);
  time_set_source(fake_now);
  if (fake_sleep_too) sleep_set_fn(fake_sleep);
}

void fake_clock_remove() {
  time_set_source(nullptr);
  if (g_sleep_faked.exchange(false)) sleep_set_fn(nullptr);
}

uint32_t fake_clock_now() { return static_cast<uint32_t>(g_now_us.load() / 1000); }
void fake_clock_set(uint32_t now_ms) { g_now_us.store(uint64_t{now_ms} * 1000); }
void fake_clock_advance(uint32_t ms) { g_now_us.fetch_add(uint64_t{ms} * 1000); }
void fake_clock_set_tick(uint32_t ms) { g_tick_us.store(uint64_t{ms} * 1000); }

uint64_t fake_clock_slept_us() { return g_slept_us.load(); }
void fake_clock_reset_slept() { g_slept_us.store(0); }
