// Stand-ins until the command workers land.
#include "viewer/command_worker.h"

void command_worker_start(const char*, size_t) {}
void* hud_command_poller(void*) { return nullptr; }
