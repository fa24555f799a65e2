// libFuzzer target: the daemon's datagrams as pqw-web reads them: each one
// decoded (viewer_decode_json) and folded into the snapshot, and the
// snapshot printed for the page. A snapshot from the last input carries
// over, as pqw-web's does from one datagram to the next.
//
// Input: datagrams, each a 2-byte big-endian length and its bytes; a last
// short one takes what is left. Each is also applied as if it were a decoded
// line itself (the JSON shapes the decoder would not make).
//
// The promise checked: the snapshot is always one JSON object, its settings
// a JSON object or nothing.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/viewer_decode.h"
#include "web/web_snapshot.h"

namespace {

void must_be_object(const std::string& text) {
  cJSON* o = cJSON_Parse(text.c_str());
  if (!cJSON_IsObject(o)) abort();
  cJSON_Delete(o);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static WebSnapshot carried;
  WebSnapshot fresh;
  int64_t now = 1000;
  size_t at = 0;
  while (at < size) {
    size_t n = size - at >= 2 ? (size_t{data[at]} << 8 | data[at + 1]) : 0;
    at += 2;
    if (at > size) break;
    if (n > size - at) n = size - at;
    std::string decoded = viewer_decode_json(data + at, n);
    std::string raw(reinterpret_cast<const char*>(data + at), n);
    at += n;
    now += 100;
    web_snapshot_apply(&fresh, decoded, now);
    web_snapshot_apply(&fresh, raw, now);
    web_snapshot_apply(&carried, decoded, now);
  }
  // One of them printed per input (printing is most of the cost), at once
  // or as a page sees it once the daemon has gone quiet.
  const WebSnapshot& shown = size & 1 ? fresh : carried;
  must_be_object(web_snapshot_json(shown, size & 2 ? now : now + kWebDaemonSilenceMs + 1));
  if (!shown.settings.empty()) must_be_object(shown.settings);
  int kelvin = 0;
  if (size >= 4) {
    web_iso_text(data[0]);
    web_shutter_text(uint32_t{data[1]} << 8 | data[2]);
    web_wb_text(data[3] & 7, data[size - 1], &kelvin);
  }
  return 0;
}
