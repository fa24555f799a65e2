// libFuzzer target: the video datagrams pqw-web takes from the daemon. The
// input is cut into datagrams (each led by a length byte, its top bit a
// "lost before" mark) and fed to the parser as it recognises the format, as
// a byte stream and as RTP, and through the whole pipeline to a watcher;
// the promises: frames are bounded, every fragment a watcher gets is whole
// MP4 boxes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "web/web_video.h"

namespace {

struct Datagram {
  const uint8_t* data;
  size_t size;
  bool lost;
};

std::vector<Datagram> cut(const uint8_t* data, size_t size) {
  std::vector<Datagram> out;
  for (size_t i = 0; i < size;) {
    size_t n = (data[i] & 0x7f) * 12 + 1;
    bool lost = data[i] & 0x80;
    i++;
    if (n > size - i) n = size - i;
    out.push_back({data + i, n, lost});
    i += n;
  }
  return out;
}

void boxes_whole(const std::string& s) {
  size_t at = 0;
  while (at < s.size()) {
    if (s.size() - at < 8) abort();
    size_t n = static_cast<size_t>(static_cast<uint8_t>(s[at])) << 24 |
               static_cast<uint8_t>(s[at + 1]) << 16 | static_cast<uint8_t>(s[at + 2]) << 8 |
               static_cast<uint8_t>(s[at + 3]);
    if (n < 8 || n > s.size() - at) abort();
    at += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Datagram> dgrams = cut(data, size);
  for (WebVideoFormat f : {WebVideoFormat::none, WebVideoFormat::annexb, WebVideoFormat::rtp}) {
    WebVideoParser p;
    p.format = f;
    p.au_broken = f == WebVideoFormat::annexb;
    std::vector<WebVideoFrame> out;
    for (const Datagram& d : dgrams) web_video_parse(&p, d.data, d.size, d.lost, &out);
    for (const WebVideoFrame& fr : out)
      for (const std::string& n : fr.nals)
        if (n.empty() || n.size() > kWebVideoNalMax) abort();
  }
  WebVideoSps sps;
  web_video_sps_parse(data, size, &sps);

  WebVideo v;
  WebVideoWatcher* w = web_video_watch(&v, 0);
  int64_t now = 0;
  for (const Datagram& d : dgrams) web_video_feed(&v, d.data, d.size, d.lost, now += 5);
  web_video_tick(&v, now);
  std::string got;
  uint8_t buf[4096];
  long n;
  while ((n = web_video_take(&v, w, buf, sizeof buf, nullptr, now)) > 0)
    got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
  boxes_whole(got);
  web_video_leave(&v, w, now);
  return 0;
}
