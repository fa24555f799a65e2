#include "tools/capture_read.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kEffFlag = 0x80000000u, kRtrFlag = 0x40000000u, kErrFlag = 0x20000000u;
constexpr int kLinkTypeSocketCan = 227;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool fd_length_valid(size_t len) {
  return len <= 8 || len == 12 || len == 16 || len == 20 || len == 24 || len == 32 || len == 48 ||
         len == 64;
}

bool fail(const char** why, const char* text) {
  if (why) *why = text;
  return false;
}

void skip(CaptureReport* r, const char* unit, uint64_t index, const char* why) {
  r->skipped++;
  if (r->first_skip.empty())
    r->first_skip = std::string(unit) + " " + std::to_string(index) + ": " + why;
}

struct Sink {
  CaptureFrameFn fn;
  void* ctx;
  CaptureReport* report;
  void frame(const CaptureFrame& f) {
    report->frames++;
    fn(f, ctx);
  }
};

bool read_candump(const char* text, size_t n, Sink* sink) {
  sink->report->format = "candump";
  uint64_t line_no = 0;
  size_t at = 0;
  while (at < n) {
    size_t end = at;
    while (end < n && text[end] != '\n') end++;
    line_no++;
    size_t len = end - at;
    if (len && text[at + len - 1] == '\r') len--;
    bool blank = true;
    for (size_t i = 0; i < len; i++)
      if (text[at + i] != ' ' && text[at + i] != '\t') blank = false;
    if (!blank) {
      CaptureFrame f;
      const char* why = "";
      if (capture_parse_candump_line(text + at, len, &f, &why))
        sink->frame(f);
      else
        skip(sink->report, "line", line_no, why);
    }
    at = end + 1;
  }
  return true;
}

bool read_pcap(FILE* file, Sink* sink, std::string* error) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  // pcap_fopen_offline takes the FILE over (closed by pcap_close), and reads
  // pcap and pcapng alike.
  pcap_t* pc = pcap_fopen_offline(file, errbuf);
  if (!pc) {
    fclose(file);
    *error = std::string("not a readable pcap or pcapng file: ") + errbuf;
    return false;
  }
  int dlt = pcap_datalink(pc);
  if (dlt != kLinkTypeSocketCan) {
    *error = "link type " + std::to_string(dlt) + " (" +
             (pcap_datalink_val_to_name(dlt) ? pcap_datalink_val_to_name(dlt) : "?") +
             ") is not SocketCAN (227): capture with tcpdump -i can0, not -i any";
    pcap_close(pc);
    return false;
  }
  // pcapng files report the section header's version, 1; pcap files 2.
  sink->report->format = pcap_major_version(pc) == 1 ? "pcapng" : "pcap";
  uint64_t record = 0;
  for (;;) {
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    int r = pcap_next_ex(pc, &h, &bytes);
    if (r == PCAP_ERROR_BREAK) break;  // end of file
    if (r != 1) {
      sink->report->cut_short = pcap_geterr(pc);
      break;
    }
    record++;
    CaptureFrame f;
    const char* why = "";
    if (!capture_parse_socketcan(bytes, h->caplen, &f, &why)) {
      skip(sink->report, "record", record, why);
      continue;
    }
    f.time = static_cast<double>(h->ts.tv_sec) + static_cast<double>(h->ts.tv_usec) / 1e6;
    sink->frame(f);
  }
  pcap_close(pc);
  return true;
}

bool looks_like_pcap(const uint8_t* b, size_t n) {
  if (n < 4) return false;
  uint32_t le = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  uint32_t be = b[3] | b[2] << 8 | b[1] << 16 | static_cast<uint32_t>(b[0]) << 24;
  for (uint32_t m : {le, be})
    if (m == 0xA1B2C3D4u || m == 0xA1B23C4Du || m == 0x0A0D0D0Au) return true;
  return false;
}

}  // namespace

bool capture_parse_candump_line(const char* s, size_t n, CaptureFrame* f, const char** why) {
  *f = CaptureFrame{};
  size_t i = 0;
  while (i < n && (s[i] == ' ' || s[i] == '\t')) i++;
  if (i >= n || s[i] != '(') return fail(why, "no (time) at the start");
  size_t close = i + 1;
  while (close < n && s[close] != ')') close++;
  if (close >= n || close - i - 1 == 0 || close - i - 1 > 31)
    return fail(why, "no (time) at the start");
  char num[32];
  memcpy(num, s + i + 1, close - i - 1);
  num[close - i - 1] = 0;
  char* end = nullptr;
  f->time = strtod(num, &end);
  if (*end != 0 || !(f->time >= 0 && f->time < 1e12)) return fail(why, "bad time");
  i = close + 1;
  // Interface name, then the frame.
  while (i < n && s[i] == ' ') i++;
  size_t iface = i;
  while (i < n && s[i] != ' ') i++;
  if (i == iface) return fail(why, "no interface");
  while (i < n && s[i] == ' ') i++;
  size_t frame = i;
  while (i < n && s[i] != ' ' && s[i] != '\t') i++;
  size_t frame_end = i;  // anything after (candump -x: R/T) is not the frame's
  size_t hash = frame;
  while (hash < frame_end && s[hash] != '#') hash++;
  size_t id_digits = hash - frame;
  if (hash >= frame_end || (id_digits != 3 && id_digits != 8)) return fail(why, "bad CAN id");
  uint32_t id = 0;
  for (size_t k = frame; k < hash; k++) {
    int d = hex_digit(s[k]);
    if (d < 0) return fail(why, "bad CAN id");
    id = id << 4 | static_cast<uint32_t>(d);
  }
  f->extended = id_digits == 8;
  if (f->extended) {
    f->error = (id & kErrFlag) != 0;
    id &= 0x1FFFFFFFu;
  } else if (id > 0x7FF) {
    return fail(why, "bad CAN id");
  }
  f->can_id = id;
  size_t d = hash + 1;
  if (d < frame_end && s[d] == '#') {
    f->fd = true;
    d++;
    if (d >= frame_end || hex_digit(s[d]) < 0) return fail(why, "bad CAN FD flags");
    d++;
  } else if (d < frame_end && (s[d] == 'R' || s[d] == 'r')) {
    f->remote = true;
    // "R" or "R<dlc>": no data bytes either way.
    if (d + 1 < frame_end &&
        (d + 2 != frame_end || hex_digit(s[d + 1]) < 0 || hex_digit(s[d + 1]) > 8))
      return fail(why, "bad remote frame");
    return true;
  }
  size_t digits = frame_end - d;
  if (digits % 2) return fail(why, "odd number of data digits");
  size_t len = digits / 2;
  if (len > (f->fd ? 64u : 8u) || (f->fd && !fd_length_valid(len)))
    return fail(why, "bad data length");
  for (size_t k = 0; k < len; k++) {
    int hi = hex_digit(s[d + 2 * k]), lo = hex_digit(s[d + 2 * k + 1]);
    if (hi < 0 || lo < 0) return fail(why, "bad data digit");
    f->data[k] = static_cast<uint8_t>(hi << 4 | lo);
  }
  f->len = static_cast<uint8_t>(len);
  return true;
}

bool capture_parse_socketcan(const uint8_t* b, size_t n, CaptureFrame* f, const char** why) {
  *f = CaptureFrame{};
  if (n < 8) return fail(why, "record shorter than the frame header");
  uint32_t raw = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                 static_cast<uint32_t>(b[2]) << 8 | b[3];
  f->extended = (raw & kEffFlag) != 0;
  f->remote = (raw & kRtrFlag) != 0;
  f->error = (raw & kErrFlag) != 0;
  f->can_id = raw & (f->extended ? 0x1FFFFFFFu : 0x7FFu);
  size_t len = b[4];
  // A frame of 72 captured bytes is a CAN FD frame (so is one flagged FDF).
  f->fd = n == 72 || (b[5] & 0x04) != 0;
  if (len > (f->fd ? 64u : 8u) || (f->fd && !fd_length_valid(len)))
    return fail(why, "bad data length");
  if (f->remote) return true;
  if (8 + len > n) return fail(why, "record shorter than its data length");
  f->len = static_cast<uint8_t>(len);
  memcpy(f->data, b + 8, len);
  return true;
}

bool capture_read_file(const std::string& path, CaptureFrameFn fn, void* ctx, CaptureReport* report,
                       std::string* error) {
  *report = CaptureReport{};
  FILE* file = fopen(path.c_str(), "rbe");
  if (!file) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  uint8_t head[4] = {};
  size_t got = fread(head, 1, sizeof head, file);
  if (got == 0) {
    fclose(file);
    *error = path + ": empty file";
    return false;
  }
  Sink sink{fn, ctx, report};
  if (looks_like_pcap(head, got)) {
    rewind(file);
    if (!read_pcap(file, &sink, error)) {
      *error = path + ": " + *error;
      return false;
    }
    return true;
  }
  // A log: read it whole, up to a bound that no field capture comes near.
  constexpr size_t kMaxLog = size_t{1} << 30;
  std::string text(reinterpret_cast<char*>(head), got);
  char buf[65536];
  size_t r;
  while ((r = fread(buf, 1, sizeof buf, file)) > 0 && text.size() < kMaxLog) text.append(buf, r);
  fclose(file);
  if (text.size() >= kMaxLog) {
    *error = path + ": larger than 1 GiB";
    return false;
  }
  read_candump(text.data(), text.size(), &sink);
  if (report->frames == 0 && report->skipped > 0) {
    *error = path + ": neither pcap, pcapng nor a candump -l log (" + report->first_skip + ")";
    return false;
  }
  return true;
}

bool capture_read_memory(const uint8_t* bytes, size_t n, CaptureFrameFn fn, void* ctx,
                         CaptureReport* report, std::string* error) {
  *report = CaptureReport{};
  if (n == 0) {
    *error = "empty";
    return false;
  }
  Sink sink{fn, ctx, report};
  if (!looks_like_pcap(bytes, n)) {
    read_candump(reinterpret_cast<const char*>(bytes), n, &sink);
    return true;
  }
  FILE* file = fmemopen(const_cast<uint8_t*>(bytes), n, "rb");
  if (!file) {
    *error = strerror(errno);
    return false;
  }
  return read_pcap(file, &sink, error);
}
