// The daemon's life: start-up in its fixed order, the once-a-second
// supervisor and the status beacon loop that the main thread ends in.
#pragma once

#include <cstdint>

struct ConfigRecord;

inline constexpr uint8_t kBeaconCode = 6;
inline constexpr int kBeaconSize = 7;

// Every start-up step up to and including the supervisor thread.
void app_startup();

// One supervisor pass (link watchdog, shield, video, clients, hostapd).
void supervisor_pass();
// The supervisor thread: a pass, then one second, for ever.
void* supervisor_loop(void*);

// The 7-byte status beacon from the record and the HudBlock as they are now:
// code 6, flags, viewer count, 0, focus assistant, RC state, 0.
// Flags: bit 0 always, 1 apstate, 2 hdmi_enabled, 4 camera_connected,
// 6 and 7 bit 0 of HudBlock bytes 2625 and 2626.
void beacon_build(const ConfigRecord* rec, const uint8_t* hud, uint8_t out[kBeaconSize]);
uint8_t beacon_flags(const ConfigRecord* rec, const uint8_t* hud);
// One cycle: three identical beacons 100 ms apart, then 500 ms more.
void beacon_cycle();
[[noreturn]] void beacon_loop();
