#include "web/web_video.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kNalSlice = 1, kNalIdr = 5, kNalSei = 6, kNalSps = 7, kNalPps = 8, kNalAud = 9;
constexpr int64_t kClock = 90000;          // the 90 kHz clock of H.264 over RTP and of the track
constexpr int64_t kSilenceResetMs = 3000;  // the daemon's own "video lost"
constexpr size_t kParameterSetMax = 1024;

bool is_vcl(int type) { return type == kNalSlice || type == kNalIdr; }

// ---- Parsing -------------------------------------------------------------

void drop_gathered(WebVideoParser* p) {
  if (p->au_vcl) p->dropped++;
  p->au = WebVideoFrame{};
  p->au_bytes = 0;
  p->au_vcl = false;
  p->fu.clear();
  p->fu_active = false;
  p->waiting_key = true;
}

void finish_au(WebVideoParser* p, std::vector<WebVideoFrame>* out) {
  if (p->au_vcl) {
    if (p->waiting_key && !p->au.key) {
      p->dropped++;
    } else {
      p->waiting_key = false;
      p->frames++;
      out->push_back(std::move(p->au));
    }
  }
  p->au = WebVideoFrame{};
  p->au_vcl = false;
  p->au_bytes = 0;
}

// A slice whose first_mb_in_slice is 0 (ue(v) "1") starts a picture, as do
// the units that may only come before one. n >= 2.
bool starts_picture(const uint8_t* nal) {
  int type = nal[0] & 0x1f;
  return (is_vcl(type) && (nal[1] & 0x80)) || type == kNalSei || type == kNalSps ||
         type == kNalPps || type == kNalAud || (type >= 14 && type <= 18);
}

// One whole NAL unit; opens a new access unit where the last one ended.
void take_nal(WebVideoParser* p, const uint8_t* nal, size_t n, std::vector<WebVideoFrame>* out) {
  if (n == 0) return;  // two start codes in a row
  if ((nal[0] & 0x80) || n > kWebVideoNalMax) {
    drop_gathered(p);  // a broken unit: its frame cannot be shown
    return;
  }
  int type = nal[0] & 0x1f;
  if (p->au_vcl && n > 1 && starts_picture(nal)) finish_au(p, out);
  // No real picture has this many slices or bytes.
  if (p->au.nals.size() >= 256 || p->au_bytes + n > kWebVideoFrameMax) {
    drop_gathered(p);
    return;
  }
  p->au_bytes += n;
  p->au.nals.emplace_back(reinterpret_cast<const char*>(nal), n);
  if (is_vcl(type)) p->au_vcl = true;
  if (type == kNalIdr) p->au.key = true;
}

void parse_annexb(WebVideoParser* p, const uint8_t* data, size_t n, bool lost,
                  std::vector<WebVideoFrame>* out) {
  if (lost) {
    // The unit in progress has a hole: throw it away, resync at a start code.
    p->carry.clear();
    p->au_broken = true;
    drop_gathered(p);
  }
  size_t from = p->carry.size() >= 2 ? p->carry.size() - 2 : 0;
  if (p->carry.size() + n > kWebVideoNalMax + 4) {
    p->carry.clear();
    p->au_broken = true;
    drop_gathered(p);
    from = 0;
  }
  p->carry.append(reinterpret_cast<const char*>(data), n);
  // carry starts just after a start code unless au_broken (then it is
  // garbage up to the first start code).
  size_t begin = 0;
  const auto* c = reinterpret_cast<const uint8_t*>(p->carry.data());
  size_t size = p->carry.size();
  for (size_t i = from; i + 2 < size;) {
    if (c[i + 2] > 1) {  // no start code can begin at i, i+1 or i+2
      i += 3;
      continue;
    }
    if (c[i] == 0 && c[i + 1] == 0 && c[i + 2] == 1) {
      if (!p->au_broken) {
        // The unit ends before the zeros of a 4-byte start code.
        size_t end = i;
        while (end > begin && c[end - 1] == 0) end--;
        take_nal(p, c + begin, end - begin, out);
      }
      p->au_broken = false;
      begin = i + 3;
      i += 3;
    } else {
      i++;
    }
  }
  // Garbage before the first start code is not kept, but for the two bytes
  // that may be the start of a start code.
  if (p->au_broken && size > 2) begin = size - 2;
  p->carry.erase(0, begin);
  // The picture gathered so far is whole as soon as the next unit's first
  // bytes say a new one begins: no need to wait for that unit's end.
  if (!p->au_broken && p->au_vcl && p->carry.size() >= 2 &&
      starts_picture(reinterpret_cast<const uint8_t*>(p->carry.data())))
    finish_au(p, out);
}

uint16_t be16(const uint8_t* b) { return static_cast<uint16_t>(b[0] << 8 | b[1]); }
uint32_t be32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
}

// The payload of an RTP packet, or false when it is not one.
bool rtp_payload(const uint8_t* d, size_t n, size_t* at, size_t* end) {
  if (n < 13 || (d[0] & 0xc0) != 0x80) return false;
  size_t h = 12 + 4 * static_cast<size_t>(d[0] & 0x0f);
  if (d[0] & 0x10) {
    if (n < h + 4) return false;
    h += 4 + 4 * static_cast<size_t>(be16(d + h + 2));
  }
  size_t e = n;
  if (d[0] & 0x20) {
    if (d[n - 1] == 0 || d[n - 1] > n) return false;
    e -= d[n - 1];
  }
  if (h >= e) return false;
  *at = h;
  *end = e;
  return true;
}

void parse_rtp(WebVideoParser* p, const uint8_t* d, size_t n, bool lost,
               std::vector<WebVideoFrame>* out) {
  size_t at, end;
  if (!rtp_payload(d, n, &at, &end)) return;
  uint16_t seq = be16(d + 2);
  uint32_t ts = be32(d + 4);
  if (lost || (p->rtp_seq_known && seq != static_cast<uint16_t>(p->rtp_seq + 1))) {
    if (p->rtp_seq_known && static_cast<int16_t>(seq - p->rtp_seq) <= 0 && !lost)
      return;  // late or repeated: already counted as lost
    drop_gathered(p);
  }
  p->rtp_seq = seq;
  p->rtp_seq_known = true;
  if (p->au_vcl && p->au.clock != ts) finish_au(p, out);  // marker lost
  const uint8_t* pl = d + at;
  size_t len = end - at;
  int type = pl[0] & 0x1f;
  if (type >= 1 && type <= 23) {
    take_nal(p, pl, len, out);
  } else if (type == 24) {  // STAP-A: 16-bit sizes, each unit after its size
    for (size_t i = 1; i + 2 <= len;) {
      size_t s = be16(pl + i);
      i += 2;
      if (s == 0 || i + s > len) {
        drop_gathered(p);
        break;
      }
      take_nal(p, pl + i, s, out);
      i += s;
    }
  } else if (type == 28 && len >= 2) {  // FU-A: one unit in pieces
    bool first = pl[1] & 0x80, last = pl[1] & 0x40;
    if (first) {
      p->fu.assign(1, static_cast<char>((pl[0] & 0xe0) | (pl[1] & 0x1f)));
      p->fu_active = true;
    } else if (!p->fu_active) {
      return;  // its start is gone; the loss already made us wait
    }
    if (p->fu.size() + len - 2 > kWebVideoNalMax) {
      drop_gathered(p);
      return;
    }
    p->fu.append(reinterpret_cast<const char*>(pl + 2), len - 2);
    if (last) {
      std::string nal = std::move(p->fu);
      p->fu.clear();
      p->fu_active = false;
      take_nal(p, reinterpret_cast<const uint8_t*>(nal.data()), nal.size(), out);
    }
  }
  // other types (STAP-B, MTAP, FU-B) are not sent in the packetisation mode
  // a camera uses; they are skipped.
  p->au.has_clock = true;
  p->au.clock = ts;
  if (d[1] & 0x80) finish_au(p, out);
}

bool has_start_code(const uint8_t* d, size_t n) {
  for (size_t i = 0; i + 3 < n; i++)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && !(d[i + 3] & 0x80) && (d[i + 3] & 0x1f))
      return true;
  return false;
}

// Looks at one datagram while the format is not known yet.
void probe(WebVideoParser* p, const uint8_t* d, size_t n) {
  size_t at, end;
  int pt = n >= 2 ? d[1] & 0x7f : 0;
  if (rtp_payload(d, n, &at, &end) && pt >= 96 && pt <= 127) {
    uint16_t seq = be16(d + 2);
    uint32_t ssrc = be32(d + 8);
    bool next =
        p->probe_rtp_run && ssrc == p->probe_ssrc && seq == static_cast<uint16_t>(p->probe_seq + 1);
    p->probe_rtp_run = next ? p->probe_rtp_run + 1 : 1;
    p->probe_seq = seq;
    p->probe_ssrc = ssrc;
  } else {
    p->probe_rtp_run = 0;
  }
  // Three packets in a row of one source: RTP. Two datagrams with a start
  // code and no such run: a byte stream.
  if (p->probe_rtp_run >= 3) {
    p->format = WebVideoFormat::rtp;
  } else if (has_start_code(d, n)) {
    // A datagram that opens with a start code cannot be RTP (version 2).
    bool opens = n > 3 && d[0] == 0 && d[1] == 0 && (d[2] == 1 || (d[2] == 0 && d[3] == 1));
    if (opens || (p->probe_start_code && p->probe_rtp_run < 2)) p->format = WebVideoFormat::annexb;
    p->probe_start_code = true;
  }
  if (p->format == WebVideoFormat::none && ++p->probed >= kWebVideoProbeDatagrams)
    p->format = WebVideoFormat::unknown;
}

// ---- Sequence parameter set -------------------------------------------------

struct Bits {
  std::vector<uint8_t> rbsp;
  size_t pos = 0;
  bool bad = false;
  uint32_t u(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; i++) {
      if (pos >= rbsp.size() * 8) {
        bad = true;
        return 0;
      }
      v = v << 1 | ((rbsp[pos / 8] >> (7 - pos % 8)) & 1);
      pos++;
    }
    return v;
  }
  uint32_t ue() {
    int zeros = 0;
    while (!bad && u(1) == 0)
      if (++zeros > 31) bad = true;
    if (bad) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + u(zeros));
  }
  int32_t se() {
    uint32_t k = ue();
    return k & 1 ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
};

void skip_scaling_list(Bits* b, int size) {
  int last = 8, next = 8;
  for (int j = 0; j < size && !b->bad; j++) {
    if (next != 0) next = (last + b->se() + 256) % 256;
    if (next != 0) last = next;
  }
}

// ---- The fragmented MP4 writer ------------------------------------------------

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using IoBytes = const uint8_t*;
#else
using IoBytes = uint8_t*;
#endif

int io_write(void* opaque, IoBytes buf, int size) {
  static_cast<std::string*>(opaque)->append(reinterpret_cast<const char*>(buf),
                                            static_cast<size_t>(size));
  return size;
}

std::string annexb(const std::vector<std::string>& nals) {
  std::string s;
  for (const std::string& n : nals) {
    s.append("\0\0\0\1", 4);
    s += n;
  }
  return s;
}

int nal_type(const std::string& n) { return n.empty() ? 0 : n[0] & 0x1f; }

}  // namespace

// ---- Parser entry points -------------------------------------------------

const char* web_video_format_name(WebVideoFormat f) {
  switch (f) {
    case WebVideoFormat::annexb:
      return "h264";
    case WebVideoFormat::rtp:
      return "rtp-h264";
    case WebVideoFormat::unknown:
      return "unknown";
    case WebVideoFormat::none:
      break;
  }
  return "none";
}

void web_video_parse(WebVideoParser* p, const uint8_t* data, size_t n, bool lost,
                     std::vector<WebVideoFrame>* out) {
  if (n == 0) return;
  if (p->format == WebVideoFormat::none) {
    probe(p, data, n);
    if (p->format == WebVideoFormat::annexb) {
      // This datagram holds a start code: begin at it.
      p->au_broken = true;
      parse_annexb(p, data, n, false, out);
    }
    return;
  }
  if (p->format == WebVideoFormat::annexb) parse_annexb(p, data, n, lost, out);
  if (p->format == WebVideoFormat::rtp) parse_rtp(p, data, n, lost, out);
}

bool web_video_sps_parse(const uint8_t* nal, size_t n, WebVideoSps* out) {
  if (n < 4 || (nal[0] & 0x1f) != kNalSps || n > kParameterSetMax) return false;
  Bits b;
  // Without the emulation prevention bytes (00 00 03 -> 00 00).
  for (size_t i = 1, zeros = 0; i < n; i++) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    b.rbsp.push_back(nal[i]);
  }
  WebVideoSps s;
  s.profile = static_cast<int>(b.u(8));
  s.constraints = static_cast<int>(b.u(8));
  s.level = static_cast<int>(b.u(8));
  b.ue();  // seq_parameter_set_id
  uint32_t chroma = 1;
  bool separate_planes = false;
  static const int kHigh[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  if (std::find(std::begin(kHigh), std::end(kHigh), s.profile) != std::end(kHigh)) {
    chroma = b.ue();
    if (chroma > 3) return false;
    if (chroma == 3) separate_planes = b.u(1);
    b.ue();      // bit_depth_luma_minus8
    b.ue();      // bit_depth_chroma_minus8
    b.u(1);      // qpprime_y_zero_transform_bypass_flag
    if (b.u(1))  // seq_scaling_matrix_present_flag
      for (int i = 0; i < (chroma == 3 ? 12 : 8) && !b.bad; i++)
        if (b.u(1)) skip_scaling_list(&b, i < 6 ? 16 : 64);
  }
  b.ue();  // log2_max_frame_num_minus4
  uint32_t poc_type = b.ue();
  if (poc_type == 0) {
    b.ue();
  } else if (poc_type == 1) {
    b.u(1);
    b.se();
    b.se();
    uint32_t cycle = b.ue();
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle && !b.bad; i++) b.se();
  } else if (poc_type != 2) {
    return false;
  }
  b.ue();  // max_num_ref_frames
  b.u(1);  // gaps_in_frame_num_value_allowed_flag
  uint32_t w_mbs = b.ue() + 1, h_units = b.ue() + 1;
  uint32_t frame_mbs_only = b.u(1);
  if (!frame_mbs_only) b.u(1);
  b.u(1);  // direct_8x8_inference_flag
  uint32_t crop[4] = {0, 0, 0, 0};
  if (b.u(1))
    for (uint32_t& c : crop) c = b.ue();
  if (b.bad || w_mbs > 1024 || h_units > 1024) return false;
  uint32_t type_chroma = separate_planes ? 0 : chroma;
  uint32_t crop_x = type_chroma == 0 || type_chroma == 3 ? 1 : 2;
  uint32_t crop_y = (type_chroma == 1 ? 2 : 1) * (2 - frame_mbs_only);
  int64_t w = int64_t{w_mbs} * 16 - int64_t{crop_x} * (crop[0] + crop[1]);
  int64_t h = int64_t{h_units} * 16 * (2 - frame_mbs_only) - int64_t{crop_y} * (crop[2] + crop[3]);
  if (w < 16 || h < 16) return false;
  s.width = static_cast<int>(w);
  s.height = static_cast<int>(h);
  if (b.u(1)) {                            // vui_parameters_present_flag: only the timing is wanted
    if (b.u(1) && b.u(8) == 255) b.u(32);  // aspect ratio, extended SAR
    if (b.u(1)) b.u(1);                    // overscan
    if (b.u(1)) {                          // video signal type
      b.u(4);
      if (b.u(1)) b.u(24);
    }
    if (b.u(1)) {  // chroma location
      b.ue();
      b.ue();
    }
    if (b.u(1)) {
      uint32_t units = b.u(32), scale = b.u(32);
      if (!b.bad && units && scale) s.fps = scale / (2.0 * units);
      if (s.fps > 240) s.fps = 0;
    }
  }
  *out = s;
  return true;
}

// ---- Writer ----------------------------------------------------------------

struct WebVideoMux {
  AVFormatContext* ctx = nullptr;
  std::string out;
};

void web_video_mux_close(WebVideoMux* m) {
  if (!m) return;
  if (m->ctx) {
    if (m->ctx->pb) {
      av_freep(&m->ctx->pb->buffer);
      avio_context_free(&m->ctx->pb);
    }
    avformat_free_context(m->ctx);
  }
  delete m;
}

WebVideoMux* web_video_mux_open(const std::string& sps, const std::string& pps,
                                const WebVideoSps& info, std::string* init) {
  av_log_set_level(AV_LOG_QUIET);  // a live stream's hiccups are counted, not printed
  auto* m = new WebVideoMux;
  if (avformat_alloc_output_context2(&m->ctx, nullptr, "mp4", nullptr) < 0 || !m->ctx) {
    delete m;
    return nullptr;
  }
  constexpr int kIoBuffer = 64 * 1024;
  auto* buf = static_cast<unsigned char*>(av_malloc(kIoBuffer));
  m->ctx->pb =
      buf ? avio_alloc_context(buf, kIoBuffer, 1, &m->out, nullptr, io_write, nullptr) : nullptr;
  if (!m->ctx->pb) {
    av_free(buf);
    web_video_mux_close(m);
    return nullptr;
  }
  m->ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  AVStream* st = avformat_new_stream(m->ctx, nullptr);
  std::string extra = annexb({sps, pps});
  if (!st) {
    web_video_mux_close(m);
    return nullptr;
  }
  st->time_base = AVRational{1, kClock};
  st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  st->codecpar->codec_id = AV_CODEC_ID_H264;
  st->codecpar->width = info.width;
  st->codecpar->height = info.height;
  st->codecpar->extradata =
      static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!st->codecpar->extradata) {
    web_video_mux_close(m);
    return nullptr;
  }
  memcpy(st->codecpar->extradata, extra.data(), extra.size());
  st->codecpar->extradata_size = static_cast<int>(extra.size());
  AVDictionary* opts = nullptr;
  // One fragment whenever we say so (after each frame), the moov up front
  // and empty, offsets relative to each moof: what Media Source Extensions
  // take as a live stream.
  av_dict_set(&opts, "movflags", "frag_custom+empty_moov+default_base_moof", 0);
  int r = avformat_write_header(m->ctx, &opts);
  av_dict_free(&opts);
  if (r < 0) {
    web_video_mux_close(m);
    return nullptr;
  }
  avio_flush(m->ctx->pb);
  *init = std::move(m->out);
  m->out.clear();
  return m;
}

bool web_video_mux_frame(WebVideoMux* m, const WebVideoFrame& f, int64_t pts, int64_t duration,
                         std::string* fragment) {
  std::string data = annexb(f.nals);
  AVPacket* pkt = av_packet_alloc();
  if (!pkt) return false;
  // The packet borrows the frame's bytes; the muxer copies what it keeps.
  pkt->data = reinterpret_cast<uint8_t*>(data.data());
  pkt->size = static_cast<int>(data.size());
  pkt->pts = pkt->dts = pts;
  pkt->duration = duration;
  pkt->stream_index = 0;
  if (f.key) pkt->flags |= AV_PKT_FLAG_KEY;
  int r = av_write_frame(m->ctx, pkt);
  av_packet_free(&pkt);
  if (r < 0 || av_write_frame(m->ctx, nullptr) < 0) {
    m->out.clear();
    return false;
  }
  avio_flush(m->ctx->pb);
  *fragment = std::move(m->out);
  m->out.clear();
  return !fragment->empty();
}

// ---- Watchers ------------------------------------------------------------

WebVideo::~WebVideo() {
  web_video_mux_close(mux);
  for (WebVideoWatcher* w : watchers) delete w;
}

namespace {

void push(WebVideoWatcher* w, const WebVideoBytes& b) {
  w->queue.push_back(b);
  w->queued += b->size();
}

// Drops what a watcher has queued, except the box it is half-way through
// sending (cutting that would break the byte stream).
void overflow(WebVideoWatcher* w) {
  WebVideoBytes front = w->offset ? w->queue.front() : nullptr;
  w->queue.clear();
  w->queued = 0;
  if (front) push(w, front);
  w->need_key = true;
  w->overflows++;
}

bool publish(WebVideo* v, const WebVideoBytes& frag, bool key) {
  bool woke = false;
  std::lock_guard<std::mutex> lock(v->mu);
  for (WebVideoWatcher* w : v->watchers) {
    size_t extra = frag->size() + (key && w->init_sent != v->init_gen ? v->init->size() : 0);
    if (w->queued + extra > kWebVideoQueueMax) overflow(w);
    if (w->need_key && !key) continue;
    if (w->queued + extra > kWebVideoQueueMax) continue;  // a key frame too big for anyone
    if (key && w->init_sent != v->init_gen) {
      push(w, v->init);
      w->init_sent = v->init_gen;
    }
    w->need_key = false;
    push(w, frag);
    if (w->waiting && v->resume) {
      v->resume(w->waiting);
      w->waiting = nullptr;
      woke = true;
    }
  }
  return woke;
}

void frame_timing(WebVideo* v, const WebVideoFrame& f, int64_t now_ms, int64_t* pts,
                  int64_t* duration) {
  int64_t nominal = v->info.fps > 0 ? std::llround(kClock / v->info.fps) : 0;
  int64_t step;
  if (f.has_clock && v->clock_known) {
    // RTP carries the sender's own clock: trust it while it moves forward.
    int64_t d = static_cast<int32_t>(f.clock - v->last_clock);
    step = d > 0 && d < kClock ? d : (nominal ? nominal : v->duration);
  } else if (v->pts < 0) {
    step = nominal ? nominal : v->duration;
  } else {
    // Arrival times jitter with the network: with a frame rate from the
    // SPS, step by it and let arrival pull gently; without one, follow
    // arrival.
    int64_t arrived = (now_ms - v->last_arrival_ms) * kClock / 1000;
    if (nominal) {
      int64_t pull = std::clamp<int64_t>((arrived - nominal) / 8, -nominal / 4, nominal / 4);
      step = nominal + pull;
    } else {
      step = std::clamp<int64_t>(arrived, kClock / 240, kClock / 2);
    }
  }
  v->clock_known = f.has_clock;
  v->last_clock = f.clock;
  v->last_arrival_ms = now_ms;
  v->duration = std::max<int64_t>(step, 1);
  v->pts = v->pts < 0 ? 0 : v->pts + v->duration;
  *pts = v->pts;
  *duration = v->duration;
}

bool handle_frame(WebVideo* v, WebVideoFrame& f, int64_t now_ms) {
  WebVideoFrame sample;
  sample.key = f.key;
  for (std::string& n : f.nals) {
    int t = nal_type(n);
    if (t == kNalSps && n.size() <= kParameterSetMax)
      v->sps = n;
    else if (t == kNalPps && n.size() <= kParameterSetMax)
      v->pps = n;
    else if (t != kNalAud && t != kNalSps && t != kNalPps)
      sample.nals.push_back(std::move(n));
  }
  if (f.key && !v->sps.empty() && !v->pps.empty() &&
      (!v->mux || v->sps != v->mux_sps || v->pps != v->mux_pps)) {
    WebVideoSps info;
    std::string init;
    WebVideoMux* m = nullptr;
    if (web_video_sps_parse(reinterpret_cast<const uint8_t*>(v->sps.data()), v->sps.size(), &info))
      m = web_video_mux_open(v->sps, v->pps, info, &init);
    if (m) {
      web_video_mux_close(v->mux);
      v->mux = m;
      v->mux_sps = v->sps;
      v->mux_pps = v->pps;
      v->info = info;
      std::lock_guard<std::mutex> lock(v->mu);
      v->init = std::make_shared<const std::string>(std::move(init));
      v->init_gen++;
    }
  }
  if (!v->mux || sample.nals.empty()) return false;
  if (v->fps_frames++ == 0) v->fps_window_ms = now_ms;
  int64_t pts, duration;
  frame_timing(v, f, now_ms, &pts, &duration);
  std::string frag;
  if (!web_video_mux_frame(v->mux, sample, pts, duration, &frag)) return false;
  return publish(v, std::make_shared<const std::string>(std::move(frag)), f.key);
}

std::string status_json(WebVideo* v, size_t watchers) {
  const char* format = web_video_format_name(v->parser.format);
  const char* message = v->parser.format == WebVideoFormat::unknown ? "video format not recognised"
                        : v->parser.format == WebVideoFormat::none  ? "no video"
                        : !v->mux                                   ? "waiting for a key frame"
                                                                    : "";
  char buf[400];
  snprintf(buf, sizeof buf,
           "{\"format\":\"%s\",\"message\":\"%s\",\"width\":%d,\"height\":%d,\"fps\":%.0f,"
           "\"watchers\":%zu,\"watchers_max\":%u,\"frames\":%llu,\"dropped\":%llu,\"gaps\":%llu}",
           format, message, v->mux ? v->info.width : 0, v->mux ? v->info.height : 0,
           v->mux ? (v->info.fps > 0 ? v->info.fps : v->measured_fps) : 0.0, watchers,
           v->watchers_max, static_cast<unsigned long long>(v->parser.frames),
           static_cast<unsigned long long>(v->parser.dropped),
           static_cast<unsigned long long>(v->gaps));
  return buf;
}

}  // namespace

bool web_video_feed(WebVideo* v, const uint8_t* data, size_t n, bool lost, int64_t now_ms) {
  v->last_datagram_ms = now_ms;
  if (lost) v->gaps++;
  v->frames.clear();
  web_video_parse(&v->parser, data, n, lost, &v->frames);
  bool woke = false;
  for (WebVideoFrame& f : v->frames) woke |= handle_frame(v, f, now_ms);
  return woke;
}

void web_video_tick(WebVideo* v, int64_t now_ms) {
  if (v->last_datagram_ms >= 0 && now_ms - v->last_datagram_ms > kSilenceResetMs) {
    // The stream is gone; the next one may be another kind: look again.
    v->parser = WebVideoParser{};
    v->last_datagram_ms = -1;
    v->pts = -1;
    web_video_mux_close(v->mux);
    v->mux = nullptr;
    v->mux_sps.clear();
    v->measured_fps = 0;
    v->fps_frames = 0;
  }
  if (v->fps_frames > 1 && now_ms - v->fps_window_ms >= 2000) {
    v->measured_fps = (v->fps_frames - 1) * 1000.0 / static_cast<double>(now_ms - v->fps_window_ms);
    v->fps_frames = 0;
  }
  std::lock_guard<std::mutex> lock(v->mu);
  v->status = status_json(v, v->watchers.size());
}

bool web_video_wanted(WebVideo* v, int64_t now_ms) {
  std::lock_guard<std::mutex> lock(v->mu);
  return !v->watchers.empty() ||
         (v->last_watch_ms >= 0 && now_ms - v->last_watch_ms < kWebVideoLingerMs);
}

std::string web_video_status(WebVideo* v) {
  std::lock_guard<std::mutex> lock(v->mu);
  return v->status;
}

size_t web_video_watching(WebVideo* v) {
  std::lock_guard<std::mutex> lock(v->mu);
  return v->watchers.size();
}

WebVideoWatcher* web_video_watch(WebVideo* v, int64_t now_ms) {
  std::lock_guard<std::mutex> lock(v->mu);
  if (v->quitting || v->watchers.size() >= v->watchers_max) {
    v->refused++;
    return nullptr;
  }
  auto* w = new WebVideoWatcher;
  v->watchers.push_back(w);
  v->last_watch_ms = now_ms;
  return w;
}

void web_video_leave(WebVideo* v, WebVideoWatcher* w, int64_t now_ms) {
  std::lock_guard<std::mutex> lock(v->mu);
  auto& ws = v->watchers;
  ws.erase(std::remove(ws.begin(), ws.end(), w), ws.end());
  v->last_watch_ms = now_ms;
  delete w;
}

long web_video_take(WebVideo* v, WebVideoWatcher* w, uint8_t* buf, size_t max, void* handle,
                    int64_t now_ms) {
  std::lock_guard<std::mutex> lock(v->mu);
  if (v->quitting) return -1;
  if (w->last_sent_ms < 0) w->last_sent_ms = now_ms;
  if (w->queue.empty() && max >= 8 && now_ms - w->last_sent_ms >= kWebVideoKeepAliveMs) {
    static const uint8_t kFree[8] = {0, 0, 0, 8, 'f', 'r', 'e', 'e'};
    memcpy(buf, kFree, sizeof kFree);
    w->last_sent_ms = now_ms;
    return sizeof kFree;
  }
  size_t copied = 0;
  while (copied < max && !w->queue.empty()) {
    const std::string& front = *w->queue.front();
    size_t n = std::min(max - copied, front.size() - w->offset);
    memcpy(buf + copied, front.data() + w->offset, n);
    copied += n;
    w->offset += n;
    if (w->offset == front.size()) {
      w->queued -= front.size();
      w->queue.pop_front();
      w->offset = 0;
    }
  }
  if (copied) w->last_sent_ms = now_ms;
  if (copied == 0 && v->suspend) {
    w->waiting = handle;
    v->suspend(handle);
  }
  return static_cast<long>(copied);
}

void web_video_wake_all(WebVideo* v, bool quitting) {
  std::lock_guard<std::mutex> lock(v->mu);
  if (quitting) v->quitting = true;
  for (WebVideoWatcher* w : v->watchers) {
    if (w->waiting && v->resume) v->resume(w->waiting);
    w->waiting = nullptr;
  }
}
