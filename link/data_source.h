// The camera link as a whole: start-up, the link watchdog, keep-alives.
//
// Keep-alive packets (CRC16 left out; q q = the sequence link_send stamps):
//   camera_set_datetime(13, 5, 9, 24, 12, 2023)
//     -> 55 14 04 6D 02 01 q q 40 02 54 E7 07 0C 18 0D 05 09        (20 bytes)
//   camera_send_mac with "02:1a:2b:3c:4d:5e" -> two 19-byte packets,
//     55 13 04 03 07 08 q q 00 07 11 02 1A 2B 3C 4D 5E then the same to 01
//   start-up setting, once, when the camera reports telemetry byte 44 = 11:
//     55 0E 04 66 02 01 q q 40 02 66 v   (v = 1 when HUD byte 2418 is set)
// Viewers hear [5, 0, state, 0, 0, 0, 0] every second: state 2 up, 0 down.
#pragma once

#include <ctime>

void data_source_init();
void link_watchdog();
void camera_set_datetime(int hour, int minute, int second, int day, int month, int year);
void camera_send_mac();
// The calendar field a strftime format selects, in local time; -1 when its
// text does not fit four characters.
int time_part(time_t t, const char* format);
