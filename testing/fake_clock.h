// The one fake clock of the tests and fuzzers, put in through the clock's
// seams (time_set_source, sleep_set_fn): time_ms() reads it and, unless the
// test keeps real pauses, sleep_us() moves it on instead of sleeping and is
// added up, so that timing is checked without waiting for it.
#pragma once

#include <cstdint>

// From start_ms; with fake_sleep false sleep_us() stays as it is (a test
// whose threads must really pause, or that records the pauses itself).
void fake_clock_install(uint32_t start_ms, bool fake_sleep = true);
// The real clock again (and the real sleep, if the install replaced it).
void fake_clock_remove();

uint32_t fake_clock_now();
void fake_clock_set(uint32_t now_ms);
void fake_clock_advance(uint32_t ms);
// Each read of the clock moves it on by ms as well (fuzzers: time passes
// between two looks even where nothing sleeps). 0 after an install.
void fake_clock_set_tick(uint32_t ms);

// Microseconds slept through sleep_us since the install or the last reset.
uint64_t fake_clock_slept_us();
void fake_clock_reset_slept();
