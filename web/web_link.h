// pqw-web's side of the viewer protocol: one UDP socket connected to the
// daemon's viewer port (so only the daemon's datagrams arrive), registered
// for data only and refreshed every second, one thread that folds what
// arrives into the snapshot, and commands sent as a viewer sends them.
// While somebody watches the video (web_video_wanted) the registration asks
// for the video channel too, and its datagrams go to web_video_feed.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "web/web_snapshot.h"

struct WebVideo;

struct WebLink {
  std::mutex mu;  // guards snap, json, version
  WebSnapshot snap;
  std::string json;
  uint64_t version = 0;  // bumps whenever json changes

  int fd = -1;
  std::string health_path;  // a JSON object file, read once a second when present
  std::string hud_name;     // the daemon's HudBlock ("/hud_mem"), read once a second; "": none
  std::atomic<bool> dirty{false};  // the snapshot changed outside the link thread
  std::atomic<bool> stop{false};
  std::atomic<int64_t> settings_due_ms{0};  // ask for the report once this passes
  std::thread thread;
  // Called on the link thread after every change of json, and every
  // kWebLinkTickMs (for repeats and keep-alives), with no lock held; live:
  // the camera link is up.
  void (*on_change)(void* arg, bool changed, bool live) = nullptr;
  void* on_change_arg = nullptr;
  WebVideo* video = nullptr;  // the video pipeline, when pqw-web serves video
};

// With batches of up to 25 ms, ticks come every 150-175 ms: below the 200 ms
// within which a live page gets its snapshot again.
inline constexpr int kWebLinkTickMs = 150;

// host is an IPv4 address. False when the socket cannot be made.
bool web_link_open(WebLink* l, const char* host, uint16_t port);
void web_link_start(WebLink* l);
// Ends the thread (no more on_change calls); the socket stays open for
// web_link_send until web_link_close, so the HTTP side can stop after it.
void web_link_stop(WebLink* l);
void web_link_close(WebLink* l);
// One JSON command text in a type-7B message; false when it was not sent. An
// exposure program sent is remembered for the snapshot (the camera does not
// report it).
bool web_link_send(WebLink* l, const std::string& command);
// The snapshot JSON now, and its version.
std::string web_link_status(WebLink* l, uint64_t* version);
// The latest configuration report ("" before the first).
std::string web_link_settings(WebLink* l);
// Ask the daemon for its report again in delay_ms (after a change: the
// daemon runs each command on its own worker, so give the change a moment).
void web_link_refresh_settings(WebLink* l, int delay_ms);
