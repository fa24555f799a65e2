// The millisecond clock every subsystem uses for time stamps and time-outs.
#pragma once

#include <cstdint>

// Real-time clock in ms (seconds * 1000 + nanoseconds / 1e6 rounded), held in
// 32 bits that wrap; ages are the signed 32-bit difference of two values.
uint32_t time_ms();

// Signed age of `then` at `now`, the only correct way to compare two stamps.
inline int32_t time_age(uint32_t now, uint32_t then) { return static_cast<int32_t>(now - then); }

// Test seam: unit tests replace the clock (nullptr restores the real one).
using ClockSource = uint32_t (*)();
void time_set_source(ClockSource source);

// Sleeps for the given microseconds. Test seam: a test may replace the sleep
// (for instance to advance its fake clock instead).
void sleep_us(uint32_t us);
using SleepFn = void (*)(uint32_t us);
void sleep_set_fn(SleepFn fn);
