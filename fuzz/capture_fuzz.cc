// libFuzzer target: a capture file from the field, whole, through the two
// readers (candump -l text, pcap/pcapng through libpcap; told apart by the
// first bytes as pqw-decode does) and every frame through the decoder and
// its text and JSON lines. Nothing may read out of bounds, and every packet
// the decoder hands out must be as long as its length byte says.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/capture_decode.h"
#include "tools/capture_read.h"

namespace {

void on_frame(const CaptureFrame& f, void* ctx) {
  CaptureDecoder* d = static_cast<CaptureDecoder*>(ctx);
  if (f.len > 64 || (!f.fd && f.len > 8)) abort();
  capture_decoder_frame(d, f);
  for (const DecodeEvent& e : d->events) {
    if (e.kind == DecodeKind::kPacket && (e.bytes.size() != e.expected || e.bytes[1] != e.expected))
      abort();
    std::string a = decode_event_text(e, 0), b = decode_event_json(e);
    if (a.empty() || b.empty()) abort();
  }
  d->events.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CaptureDecoder d;
  capture_decoder_init(&d);
  CaptureReport report;
  std::string error;
  capture_read_memory(data, size, on_frame, &d, &report, &error);
  capture_decoder_finish(&d);
  return 0;
}
