// The camera link as a whole: start-up, the link watchdog, keep-alives.
#pragma once

#include <ctime>

void data_source_init();
void link_watchdog();
void camera_set_datetime(int hour, int minute, int second, int day, int month, int year);
void camera_send_mac();
int time_part(time_t t, const char* format);
