// pqw-decode: a capture of the camera bus (candump -l log, pcap or pcapng of
// a SocketCAN interface) as camera-link packets, one line each, read with the
// daemon's own reassembly and record decoding (tools/capture_decode.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/version.h"
#include "link/link_decode.h"
#include "tools/capture_decode.h"
#include "tools/capture_read.h"

namespace {

const char kUsage[] =
    "usage: pqw-decode [--json] [--filter SET[:ID]]... FILE\n"
    "Prints the camera-link packets of a CAN capture, one line each: time (seconds from\n"
    "the first frame), CAN id and direction, sender->receiver, sequence, command type,\n"
    "set and id, the name the daemon knows it by, its length and the fields the daemon\n"
    "decodes from it; BAD CRC16, BROKEN (frames missing) and DROPPED (a length the\n"
    "daemon does not accept) mark what the daemon's reassembly throws away.\n"
    "FILE: a candump -l log, or a pcap/pcapng of a SocketCAN interface (tcpdump -i can0,\n"
    "the daemon's --capture).\n"
    "\n"
    "  --json             one JSON object per line, and a last {\"summary\":...} line\n"
    "  --filter SET[:ID]  only packets of this command set (and id), hex: 02, 02:80;\n"
    "                     may be given more than once\n"
    "  --names            the command names the daemon knows, one per line, and exit\n"
    "  --version, --help\n";

struct Filter {
  int set, id;  // id -1: any
};

bool parse_hex_byte(const std::string& s, int* out) {
  if (s.empty() || s.size() > 4) return false;
  char* end = nullptr;
  long v = strtol(s.c_str(), &end, 16);
  if (*end || v < 0 || v > 255) return false;
  *out = static_cast<int>(v);
  return true;
}

bool parse_filter(const std::string& text, Filter* f) {
  size_t colon = text.find(':');
  f->id = -1;
  if (!parse_hex_byte(text.substr(0, colon), &f->set)) return false;
  return colon == std::string::npos || parse_hex_byte(text.substr(colon + 1), &f->id);
}

struct Run {
  CaptureDecoder decoder;
  std::vector<Filter> filters;
  bool json = false;
  bool have_t0 = false;
  double t0 = 0;
  uint64_t packets = 0, bad_crc = 0, broken = 0, dropped = 0, shown = 0;
};

bool passes(const Run& run, const DecodeEvent& e) {
  if (run.filters.empty()) return true;
  if (e.bytes.size() < 11) return false;
  for (const Filter& f : run.filters)
    if (e.bytes[9] == f.set && (f.id < 0 || e.bytes[10] == f.id)) return true;
  return false;
}

void flush(Run* run) {
  for (const DecodeEvent& e : run->decoder.events) {
    switch (e.kind) {
      case DecodeKind::kPacket:
        run->packets++;
        break;
      case DecodeKind::kBadCrc:
        run->bad_crc++;
        break;
      case DecodeKind::kBroken:
        run->broken++;
        break;
      case DecodeKind::kLength:
        run->dropped++;
        break;
    }
    if (!passes(*run, e)) continue;
    run->shown++;
    std::string line = run->json ? decode_event_json(e) : decode_event_text(e, run->t0);
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
  }
  run->decoder.events.clear();
}

void on_frame(const CaptureFrame& f, void* ctx) {
  Run* run = static_cast<Run*>(ctx);
  if (!run->have_t0) {
    run->t0 = f.time;
    run->have_t0 = true;
  }
  capture_decoder_frame(&run->decoder, f);
  flush(run);
}

}  // namespace

int main(int argc, char** argv) {
  Run run;
  capture_decoder_init(&run.decoder);
  std::string path;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      printf("pqw-decode %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
      return 0;
    } else if (a == "--names") {
      size_t n = 0;
      const LinkCommandName* names = link_command_names(&n);
      for (size_t k = 0; k < n; k++)
        printf("%02x %02x %s\n", names[k].set, names[k].id, names[k].name);
      return 0;
    } else if (a == "--json") {
      run.json = true;
    } else if (a == "--filter" && i + 1 < argc) {
      Filter f;
      if (!parse_filter(argv[++i], &f)) {
        fprintf(stderr, "pqw-decode: --filter wants SET or SET:ID in hex (02, 02:80), not %s\n",
                argv[i]);
        return 2;
      }
      run.filters.push_back(f);
    } else if (a.size() > 1 && a[0] == '-') {
      fprintf(stderr, "pqw-decode: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else if (path.empty()) {
      path = a;
    } else {
      fprintf(stderr, "pqw-decode: one FILE only\n%s", kUsage);
      return 2;
    }
  }
  if (path.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  CaptureReport report;
  std::string error;
  if (!capture_read_file(path, on_frame, &run, &report, &error)) {
    fprintf(stderr, "pqw-decode: %s\n", error.c_str());
    return 1;
  }
  capture_decoder_finish(&run.decoder);
  flush(&run);
  if (report.skipped)
    fprintf(stderr, "pqw-decode: %s: %llu unreadable entries skipped, first %s\n", path.c_str(),
            static_cast<unsigned long long>(report.skipped), report.first_skip.c_str());
  if (!report.cut_short.empty())
    fprintf(stderr, "pqw-decode: %s: ends inside a record (%s); what came before is shown\n",
            path.c_str(), report.cut_short.c_str());
  const CaptureDecoder& d = run.decoder;
  if (run.json) {
    printf(
        "{\"summary\":{\"format\":\"%s\",\"frames\":%llu,\"link_frames\":%llu,"
        "\"other_frames\":%llu,\"skipped\":%llu,\"packets\":%llu,\"bad_crc\":%llu,"
        "\"broken\":%llu,\"dropped\":%llu,\"shown\":%llu,\"cut_short\":%s}}\n",
        report.format, static_cast<unsigned long long>(d.frames),
        static_cast<unsigned long long>(d.link_frames),
        static_cast<unsigned long long>(d.other_frames),
        static_cast<unsigned long long>(report.skipped),
        static_cast<unsigned long long>(run.packets), static_cast<unsigned long long>(run.bad_crc),
        static_cast<unsigned long long>(run.broken), static_cast<unsigned long long>(run.dropped),
        static_cast<unsigned long long>(run.shown), report.cut_short.empty() ? "false" : "true");
  } else {
    printf(
        "# %s: %llu frames (%llu camera link, %llu other), %llu packets, %llu bad CRC, "
        "%llu broken, %llu dropped for their length, %llu skipped\n",
        report.format, static_cast<unsigned long long>(d.frames),
        static_cast<unsigned long long>(d.link_frames),
        static_cast<unsigned long long>(d.other_frames),
        static_cast<unsigned long long>(run.packets), static_cast<unsigned long long>(run.bad_crc),
        static_cast<unsigned long long>(run.broken), static_cast<unsigned long long>(run.dropped),
        static_cast<unsigned long long>(report.skipped));
  }
  return 0;
}
