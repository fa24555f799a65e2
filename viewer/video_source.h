// Video datagrams in on UDP 5000, forwarded to the full viewers.
#pragma once

void video_source_init();
void video_watchdog();
