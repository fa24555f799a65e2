// Every thread of the daemon starts here, with a name that shows in
// `top -H` and in /proc/PID/task/*/comm ("pqw-video", "pqw-can-rx", ...).
#pragma once

#include <pthread.h>

// Starts body(arg) on a new thread named name (at most 15 characters: the
// kernel's limit; a longer one is cut). The thread names itself first.
// Detached unless out is given, then out receives the thread to join.
// Returns pthread_create's result (0: started).
int thread_start(const char* name, void* (*body)(void*), void* arg = nullptr,
                 pthread_t* out = nullptr);
