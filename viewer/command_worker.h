// Viewer JSON commands on worker threads; the HUD command mailbox poller.
//
// Every command text goes through the installed handlers in turn (the
// configuration handler, then the camera dispatcher); each parses it itself
// and ignores what it does not know.
//
// RC value report (every ~400 ms while rc_input_enabled), 67 bytes to viewers:
//   0F <HUD 887> 20 <HUD 890..953: 32 channel values, u16 LE each>
#pragma once

#include <cstddef>
#include <cstdint>
#include <pthread.h>

// Largest command text a viewer can send: the payload of one viewer message.
inline constexpr size_t kCommandTextMax = 1488;
// Workers that may run at once; a command that finds them all busy is dropped
// (and counted) rather than queued, so a flood cannot exhaust the process.
inline constexpr int kCommandWorkersMax = 16;
// Workers one viewer address may hold at once, so that one viewer's slow
// commands (a playback press takes seconds) never keep every other viewer's
// commands out. A command over the share is dropped; the first drop of each
// episode (until that address has no worker left) is logged.
inline constexpr int kCommandWorkersPerAddress = 4;

// The handlers every command text goes through, in order; installed at
// start-up by app/ (the configuration handler, then the camera dispatcher),
// because they live on floors above this one. Null entries are skipped.
inline constexpr int kCommandHandlersMax = 4;
using CommandHandler = void (*)(const char* text, size_t length);
struct CommandHandlers {
  CommandHandler run[kCommandHandlersMax];
};
// Starts a detached worker thread running body(arg); non-zero means it could
// not be created. app/ installs the one that names the thread, since every
// thread starts there; without one every command is dropped.
using WorkerThreadCreate = int (*)(pthread_t* thread, void* (*body)(void*), void* arg);
void command_worker_install(const CommandHandlers& handlers, WorkerThreadCreate create);

// Copies the command text (bounded by the viewer message size) and runs the
// configuration handler and then the camera dispatcher on a worker of its
// own: a new thread, or one that finished its command within the last second.
void command_worker_start(const char* text, size_t length);
// Who sent the command being handled on this thread ("viewer 10.0.0.5:4243",
// "the HUD mailbox"), for the lines that say why the daemon ends. The
// receive thread sets it before handing a command to a worker.
const char* command_origin();
void command_origin_set(const char* origin);
// The address of the viewer whose command this thread hands over next, for
// the per-address share; "" or nullptr: no share applies (the HUD mailbox).
void command_sender_set(const char* address);

// Thread body: the HUD mailbox and the RC value report, every 100 ms.
void* hud_command_poller(void*);
// One pass of the poller without its sleep (tests drive it with a fake clock).
void hud_command_poll_once();

// Counters for tests and diagnostics.
struct CommandWorkerStats {
  uint32_t started;         // commands handed to a worker
  uint32_t running;         // workers not yet finished
  uint32_t dropped_busy;    // commands dropped: kCommandWorkersMax already running
  uint32_t dropped_thread;  // commands dropped: the thread could not be created
  uint32_t dropped_sender;  // commands dropped: their address held its share
};
CommandWorkerStats command_worker_stats();

// Test seam: replaces the installed thread creation for a while; nullptr
// restores it.
void command_worker_set_thread_create(WorkerThreadCreate create);
// Tests: the RC value report's timer as at process start.
void command_worker_reset();
