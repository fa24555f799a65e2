// Live video for the console: the daemon's video datagrams (an H.264 byte
// stream cut anywhere, or RTP/H.264) recognised, framed into access units,
// remuxed (never decoded) into fragmented MP4 with libavformat, and handed to
// the browsers watching, each through its own bounded queue.
//
//   WebVideo v;                       // one per pqw-web
//   web_video_feed(&v, payload, n, lost, now_ms);    // link thread
//   WebVideoWatcher* w = web_video_watch(&v, now);  // HTTP thread, nullptr: full
//   web_video_take(&v, w, buf, max);                 // bytes of "video/mp4"
//   web_video_leave(&v, w, now);
//
// A watcher gets the current init segment (ftyp+moov) and then one fragment
// (moof+mdat) per frame, starting at the next key frame. A new sequence
// parameter set (a resolution change) gives a new init segment in the same
// byte stream. A watcher whose queue is full loses everything queued and
// starts again at the next key frame: a slow phone never holds up another
// watcher, the link thread or pqw-web's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum class WebVideoFormat : uint8_t { none, annexb, rtp, unknown };

// One access unit: its NAL units without start codes.
struct WebVideoFrame {
  std::vector<std::string> nals;
  bool key = false;        // holds an IDR slice
  bool has_clock = false;  // RTP: clock is its 90 kHz time stamp
  uint32_t clock = 0;
};

// Recognises the stream and cuts it into access units. Starts, and after any
// loss restarts, at a key frame.
struct WebVideoParser {
  WebVideoFormat format = WebVideoFormat::none;
  unsigned probed = 0;     // datagrams looked at while format is none
  uint16_t probe_seq = 0;  // RTP shape seen in a row: last sequence, ssrc
  uint32_t probe_ssrc = 0;
  unsigned probe_rtp_run = 0;
  bool probe_start_code = false;

  bool waiting_key = true;  // drop frames until the next key frame
  std::string carry;        // Annex B: bytes since the last start code
  WebVideoFrame au;         // the access unit being gathered
  bool au_vcl = false;      // it holds a slice already
  bool au_broken = false;   // a part of it was lost
  size_t au_bytes = 0;      // in au.nals

  bool rtp_seq_known = false;
  uint16_t rtp_seq = 0;
  std::string fu;  // FU-A: the NAL being reassembled
  bool fu_active = false;

  uint64_t frames = 0, dropped = 0;  // counted for the status
};

// How many datagrams the parser looks at before it calls the format unknown.
inline constexpr unsigned kWebVideoProbeDatagrams = 48;
// The largest NAL unit and frame taken (a 4K intra frame is well under).
inline constexpr size_t kWebVideoNalMax = 4 << 20;
inline constexpr size_t kWebVideoFrameMax = 8 << 20;

// One video payload; lost: datagrams went missing just before it. Complete
// access units are appended to out.
void web_video_parse(WebVideoParser* p, const uint8_t* data, size_t n, bool lost,
                     std::vector<WebVideoFrame>* out);
const char* web_video_format_name(WebVideoFormat f);

// What a sequence parameter set says.
struct WebVideoSps {
  int profile = 0, constraints = 0, level = 0;
  int width = 0, height = 0;
  double fps = 0;  // 0 when the SPS gives no timing
};
bool web_video_sps_parse(const uint8_t* nal, size_t n, WebVideoSps* out);

// The fragmented MP4 writer (libavformat's mp4 muxer, custom in-memory IO).
struct WebVideoMux;
// Makes a writer for these parameter sets and gives its init segment.
WebVideoMux* web_video_mux_open(const std::string& sps, const std::string& pps,
                                const WebVideoSps& info, std::string* init);
// One frame (its NALs) at pts (90 kHz) lasting duration -> one fragment.
bool web_video_mux_frame(WebVideoMux* m, const WebVideoFrame& f, int64_t pts, int64_t duration,
                         std::string* fragment);
void web_video_mux_close(WebVideoMux* m);

using WebVideoBytes = std::shared_ptr<const std::string>;

struct WebVideoWatcher {
  std::deque<WebVideoBytes> queue;  // shared with the other watchers: no copies
  size_t queued = 0;                // bytes in queue
  size_t offset = 0;                // into queue.front()
  bool need_key = true;             // skip fragments until a key frame
  uint64_t init_sent = 0;           // generation of the init segment it has
  uint64_t overflows = 0;
  void* waiting = nullptr;  // the HTTP side's handle while it waits for bytes
  int64_t last_sent_ms = -1;
};

inline constexpr size_t kWebVideoQueueMax = 3 << 20;  // ~3 s at 8 Mbit/s
// A watcher with nothing to send gets an empty "free" box this often: a
// browser that has gone is noticed by the failed write, not only once video
// flows again.
inline constexpr int64_t kWebVideoKeepAliveMs = 1000;
inline constexpr unsigned kWebVideoWatchersDefault = 4;
// After the last watcher leaves pqw-web stays a full viewer this long (a page
// reload does not drop the stream), then goes back to data only.
inline constexpr int64_t kWebVideoLingerMs = 2000;

struct WebVideo {
  unsigned watchers_max = kWebVideoWatchersDefault;
  // The HTTP side's: called with mu held, to park a watcher that has nothing
  // to send and to wake it when it has (or when it should look again).
  void (*suspend)(void* handle) = nullptr;
  void (*resume)(void* handle) = nullptr;

  std::mutex mu;  // guards what follows, up to the link thread's own state
  std::vector<WebVideoWatcher*> watchers;
  int64_t last_watch_ms = -1;  // the last time somebody watched
  std::string status;          // JSON object for /api/status
  uint64_t refused = 0;
  bool quitting = false;

  // The link thread's own.
  WebVideoParser parser;
  WebVideoMux* mux = nullptr;
  std::string sps, pps;          // latest seen
  std::string mux_sps, mux_pps;  // those the writer was made with
  WebVideoSps info;
  WebVideoBytes init;
  uint64_t init_gen = 0;
  int64_t pts = -1, last_arrival_ms = 0, duration = 3000;
  bool clock_known = false;
  uint32_t last_clock = 0;
  int64_t last_datagram_ms = -1;
  uint64_t gaps = 0;  // datagrams went missing before this many
  double measured_fps = 0;
  int64_t fps_window_ms = 0;
  unsigned fps_frames = 0;
  std::vector<WebVideoFrame> frames;  // scratch
  ~WebVideo();
};

// Feeds one video payload (link thread). True when a watcher got new bytes.
bool web_video_feed(WebVideo* v, const uint8_t* data, size_t n, bool lost, int64_t now_ms);
// The link thread, once in a while: forgets a stream silent for long enough
// that the next may be another one, and refreshes the status.
void web_video_tick(WebVideo* v, int64_t now_ms);
// Does pqw-web need the video channel now (somebody watches, or did within
// kWebVideoLingerMs).
bool web_video_wanted(WebVideo* v, int64_t now_ms);
std::string web_video_status(WebVideo* v);
// How many watch now.
size_t web_video_watching(WebVideo* v);

// A new watcher; nullptr when watchers_max watch already.
WebVideoWatcher* web_video_watch(WebVideo* v, int64_t now_ms);
void web_video_leave(WebVideo* v, WebVideoWatcher* w, int64_t now_ms);
// Copies up to max (>= 8) queued bytes, or a keep-alive box when due. With
// none it parks the watcher (suspend with handle) and returns 0; -1 once
// pqw-web is stopping.
long web_video_take(WebVideo* v, WebVideoWatcher* w, uint8_t* buf, size_t max, void* handle,
                    int64_t now_ms);
// Wakes every parked watcher (they end when quitting is set).
void web_video_wake_all(WebVideo* v, bool quitting);
