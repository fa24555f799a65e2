// The one way the daemon ends itself (exit statuses 1, 2, 3 and 100).
//
// In production: output flushed, then _exit() (no static destructors under
// the threads that still run). Tests and fuzzers install a hook so that a
// command that would end the process can be checked instead; when the hook
// returns, app_exit returns too, and callers must return right after it.
#pragma once

using AppExitHook = void (*)(int status);

void app_exit(int status);
void app_exit_set_hook(AppExitHook hook);  // nullptr: the real end again
