// Viewer JSON commands on worker threads; the HUD command mailbox poller.
#pragma once

#include <cstddef>

// Copies the command text (bounded by the viewer message size) and runs the
// configuration handler and then the camera dispatcher on a new thread.
void command_worker_start(const char* text, size_t length);
// Thread body: the HUD mailbox and the RC value report, every 100 ms.
void* hud_command_poller(void*);
