#include "web/web_video.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string hex(const char* h) {
  std::string s;
  for (size_t i = 0; h[i] && h[i + 1]; i += 2)
    s.push_back(static_cast<char>(std::stoi(std::string(h + i, 2), nullptr, 16)));
  return s;
}

// Parameter sets from Debian's x264: 640x360 baseline 30 fps, 320x240 main 25 fps.
const std::string kSpsA = hex("6742c01ed900a02ff970110000030001000003003c0f162e48");
const std::string kPpsA = hex("68cb83cb20");
const std::string kSpsB = hex("674d400deca0a0fd80880000030008000003019078a14cb0");
const std::string kPpsB = hex("68ebe3cb20");

// A slice: NAL header, first_mb_in_slice 0, then bytes free of start codes.
std::string slice(bool idr, size_t size, int seed) {
  std::string s(1, static_cast<char>(idr ? 0x65 : 0x41));
  s.push_back(static_cast<char>(0x88));
  for (size_t i = 2; i < size; i++) s.push_back(static_cast<char>(0x10 + (i * 7 + seed) % 200));
  return s;
}

using Frames = std::vector<std::vector<std::string>>;

// Key frame every `gop` frames, with parameter sets in front.
Frames gop_stream(int count, int gop, const std::string& sps, const std::string& pps) {
  Frames f;
  for (int i = 0; i < count; i++) {
    if (i % gop == 0)
      f.push_back({sps, pps, slice(true, 3000, i)});
    else
      f.push_back({slice(false, 300 + 50 * i, i)});
  }
  return f;
}

std::string annexb(const Frames& frames) {
  std::string s;
  bool four = false;
  for (const auto& f : frames)
    for (const std::string& n : f) {
      s += four ? std::string("\0\0\0\1", 4) : std::string("\0\0\1", 3);
      four = !four;
      s += n;
    }
  return s;
}

std::vector<std::string> cut(const std::string& s, size_t size) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size(); i += size) out.push_back(s.substr(i, size));
  return out;
}

Frames parse_all(WebVideoParser* p, const std::vector<std::string>& dgrams,
                 size_t lose = SIZE_MAX) {
  std::vector<WebVideoFrame> out;
  for (size_t i = 0; i < dgrams.size(); i++) {
    if (i == lose) continue;
    web_video_parse(p, reinterpret_cast<const uint8_t*>(dgrams[i].data()), dgrams[i].size(),
                    i == lose + 1, &out);
  }
  Frames f;
  for (const auto& fr : out) f.push_back(fr.nals);
  return f;
}

// RFC 6184 packets: small units in STAP-A pairs, large ones in FU-A.
std::vector<std::string> rtp(const Frames& frames, size_t mtu, uint16_t seq0 = 100) {
  std::vector<std::string> out;
  uint16_t seq = seq0;
  uint32_t ts = 5000;
  auto packet = [&](const std::string& payload, bool marker) {
    std::string h = hex("806000000000000012345678");
    h[1] = static_cast<char>(96 | (marker ? 0x80 : 0));
    h[2] = static_cast<char>(seq >> 8);
    h[3] = static_cast<char>(seq);
    for (int i = 0; i < 4; i++) h[4 + i] = static_cast<char>(ts >> (24 - 8 * i));
    seq++;
    out.push_back(h + payload);
  };
  for (const auto& f : frames) {
    for (size_t i = 0; i < f.size(); i++) {
      bool last = i + 1 == f.size();
      const std::string& n = f[i];
      if (i + 1 < f.size() && n.size() + f[i + 1].size() + 5 < mtu) {
        std::string stap(1, static_cast<char>(24));
        for (const std::string* u : {&n, &f[i + 1]}) {
          stap.push_back(static_cast<char>(u->size() >> 8));
          stap.push_back(static_cast<char>(u->size()));
          stap += *u;
        }
        i++;
        packet(stap, i + 1 == f.size());
      } else if (n.size() <= mtu) {
        packet(n, last);
      } else {
        for (size_t at = 1; at < n.size(); at += mtu - 2) {
          std::string fu(1, static_cast<char>((n[0] & 0xe0) | 28));
          bool s = at == 1, e = at + mtu - 2 >= n.size();
          fu.push_back(static_cast<char>((s ? 0x80 : 0) | (e ? 0x40 : 0) | (n[0] & 0x1f)));
          fu += n.substr(at, mtu - 2);
          packet(fu, last && e);
        }
      }
    }
    ts += 3000;
  }
  return out;
}

TEST(WebVideoSps, ReadsSizeProfileAndRate) {
  struct Case {
    const std::string& sps;
    int profile, width, height;
    double fps;
  } cases[] = {{kSpsA, 66, 640, 360, 30}, {kSpsB, 77, 320, 240, 25}};
  for (const Case& c : cases) {
    WebVideoSps s;
    ASSERT_TRUE(
        web_video_sps_parse(reinterpret_cast<const uint8_t*>(c.sps.data()), c.sps.size(), &s));
    EXPECT_EQ(s.profile, c.profile);
    EXPECT_EQ(s.width, c.width);
    EXPECT_EQ(s.height, c.height);
    EXPECT_DOUBLE_EQ(s.fps, c.fps);
  }
  // Every truncation fails or gives a sane size; never reads past the end.
  for (size_t n = 0; n < kSpsA.size(); n++) {
    WebVideoSps s;
    if (web_video_sps_parse(reinterpret_cast<const uint8_t*>(kSpsA.data()), n, &s)) {
      EXPECT_TRUE(s.width >= 16 && s.height >= 16);
    }
  }
}

TEST(WebVideoParse, AnnexBAnyCutGivesTheSameFrames) {
  Frames frames = gop_stream(12, 5, kSpsA, kPpsA);
  std::string stream = annexb(frames);
  // The last frame stays open until the next one begins.
  Frames want(frames.begin(), frames.end() - 1);
  for (size_t size : {1, 2, 3, 4, 5, 7, 64, 1400, 100000}) {
    WebVideoParser p;
    p.format = WebVideoFormat::annexb;
    p.au_broken = true;
    Frames got = parse_all(&p, cut(stream, size));
    EXPECT_EQ(got.size(), want.size()) << "datagrams of " << size;
    EXPECT_TRUE(got == want) << "datagrams of " << size;
  }
}

TEST(WebVideoParse, LossDropsFramesUntilTheNextKeyFrame) {
  Frames frames = gop_stream(16, 5, kSpsA, kPpsA);
  std::string stream = annexb(frames);
  std::vector<std::string> d = cut(stream, 700);
  // A datagram in frame 1 (just after the first key frame's 3 kB) goes.
  size_t lose = 5;
  WebVideoParser p;
  p.format = WebVideoFormat::annexb;
  p.au_broken = true;
  Frames got = parse_all(&p, d, lose);
  ASSERT_GE(got.size(), 2u);
  // Frame 1 was whole before the loss; 2 to 4 are lost or depend on it.
  Frames want(frames.begin(), frames.begin() + 2);
  want.insert(want.end(), frames.begin() + 5, frames.end() - 1);
  EXPECT_TRUE(got == want);
  EXPECT_GT(p.dropped, 0u);
}

TEST(WebVideoParse, RtpSingleStapAndFuGiveTheFrames) {
  Frames frames = gop_stream(8, 4, kSpsA, kPpsA);
  for (size_t mtu : {200, 1400}) {
    WebVideoParser p;
    Frames got = parse_all(&p, rtp(frames, mtu));
    EXPECT_EQ(p.format, WebVideoFormat::rtp);
    // Recognising takes three packets; the first whole frame after them is
    // the next key frame.
    EXPECT_EQ(got, Frames(frames.begin() + 4, frames.end())) << mtu;
  }
  // A lost fragment: frames until the next key frame are dropped.
  std::vector<std::string> pk = rtp(frames, 200);
  WebVideoParser p;
  p.format = WebVideoFormat::rtp;
  std::vector<WebVideoFrame> out;
  for (size_t i = 0; i < pk.size(); i++)
    if (i != 3)
      web_video_parse(&p, reinterpret_cast<const uint8_t*>(pk[i].data()), pk[i].size(), false,
                      &out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_TRUE(out[0].key);
  EXPECT_EQ(out[0].nals, frames[4]);
}

TEST(WebVideoParse, RecognisesOrRefusesTheFormat) {
  std::mt19937 rng(7);
  std::string noise(200000, '\0');
  for (char& c : noise) c = static_cast<char>(rng() % 256 | 0x10);  // no zero bytes: no start codes
  struct Case {
    std::vector<std::string> dgrams;
    WebVideoFormat want;
  } cases[] = {
      {cut(annexb(gop_stream(30, 10, kSpsA, kPpsA)), 1400), WebVideoFormat::annexb},
      {rtp(gop_stream(30, 10, kSpsA, kPpsA), 1400), WebVideoFormat::rtp},
      {cut(noise, 1400), WebVideoFormat::unknown},
  };
  for (const Case& c : cases) {
    WebVideoParser p;
    parse_all(&p, c.dgrams);
    EXPECT_EQ(p.format, c.want) << web_video_format_name(c.want);
  }
}

bool has_box(const std::string& s, const char* type) { return s.find(type) != std::string::npos; }

std::string drain(WebVideo* v, WebVideoWatcher* w) {
  std::string got;
  uint8_t buf[4096];
  long n;
  while ((n = web_video_take(v, w, buf, sizeof buf, nullptr, 0)) > 0)
    got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
  return got;
}

void feed(WebVideo* v, const Frames& frames, int64_t* now) {
  for (const std::string& d : cut(annexb(frames), 1400)) {
    web_video_feed(v, reinterpret_cast<const uint8_t*>(d.data()), d.size(), false, *now);
    *now += 3;
  }
}

TEST(WebVideoPipeline, InitThenFragmentsAndNewInitOnResolutionChange) {
  WebVideo v;
  int64_t now = 1000;
  WebVideoWatcher* w = web_video_watch(&v, now);
  ASSERT_NE(w, nullptr);
  feed(&v, gop_stream(10, 5, kSpsA, kPpsA), &now);
  std::string a = drain(&v, w);
  ASSERT_GT(a.size(), 100u);
  EXPECT_EQ(a.substr(4, 4), "ftyp");
  EXPECT_TRUE(has_box(a, "moov") && has_box(a, "avcC") && has_box(a, "moof") && has_box(a, "mdat"));
  web_video_tick(&v, now);
  EXPECT_NE(web_video_status(&v).find("\"width\":640,\"height\":360,\"fps\":30"), std::string::npos)
      << web_video_status(&v);

  // The next key frame brings other parameter sets: a new init segment.
  Frames b = gop_stream(6, 5, kSpsB, kPpsB);
  feed(&v, b, &now);
  std::string c = drain(&v, w);
  size_t ftyp = c.find("ftyp");
  ASSERT_NE(ftyp, std::string::npos);
  EXPECT_TRUE(has_box(c.substr(0, ftyp), "moof")) << "the last frame of the old size comes first";
  web_video_tick(&v, now);
  EXPECT_NE(web_video_status(&v).find("\"width\":320,\"height\":240"), std::string::npos);
  web_video_leave(&v, w, now);
}

TEST(WebVideoPipeline, SlowWatcherIsBoundedAndRestartsAtAKeyFrame) {
  WebVideo v;
  int64_t now = 0;
  WebVideoWatcher* slow = web_video_watch(&v, now);
  WebVideoWatcher* fast = web_video_watch(&v, now);
  // Big frames: the slow watcher's queue overflows many times.
  Frames frames;
  for (int i = 0; i < 300; i++)
    frames.push_back(i % 30 == 0 ? std::vector<std::string>{kSpsA, kPpsA, slice(true, 60000, i)}
                                 : std::vector<std::string>{slice(false, 30000, i)});
  std::string fast_got;
  for (size_t i = 0; i < frames.size(); i += 10) {
    feed(&v,
         Frames(frames.begin() + static_cast<long>(i), frames.begin() + static_cast<long>(i) + 10),
         &now);
    fast_got += drain(&v, fast);
    EXPECT_LE(slow->queued, kWebVideoQueueMax);
  }
  EXPECT_GT(slow->overflows, 0u);
  EXPECT_EQ(fast->overflows, 0u);
  // The slow one's queue now begins at a key frame (its fragment is the
  // first thing it reads once it catches up).
  std::string s = drain(&v, slow);
  ASSERT_GT(s.size(), 8u);
  EXPECT_EQ(s.substr(4, 4), "moof");
  EXPECT_EQ(v.parser.frames, 299u);
  EXPECT_GT(fast_got.size(), 299u * 30000);
}

TEST(WebVideoPipeline, WatchersAreCappedAndLingerAfterTheLast) {
  WebVideo v;
  v.watchers_max = 2;
  EXPECT_FALSE(web_video_wanted(&v, 0));
  WebVideoWatcher* a = web_video_watch(&v, 0);
  WebVideoWatcher* b = web_video_watch(&v, 0);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(web_video_watch(&v, 0), nullptr);
  // Nothing to send: a keep-alive box once a second, so a gone browser is
  // noticed by the failed write.
  uint8_t buf[64];
  EXPECT_EQ(web_video_take(&v, a, buf, sizeof buf, nullptr, 0), 0);
  EXPECT_EQ(web_video_take(&v, a, buf, sizeof buf, nullptr, kWebVideoKeepAliveMs - 1), 0);
  ASSERT_EQ(web_video_take(&v, a, buf, sizeof buf, nullptr, kWebVideoKeepAliveMs), 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), std::string("\0\0\0\010free", 8));
  web_video_leave(&v, a, 100);
  web_video_leave(&v, b, 200);
  EXPECT_TRUE(web_video_wanted(&v, 200 + kWebVideoLingerMs - 1));
  EXPECT_FALSE(web_video_wanted(&v, 200 + kWebVideoLingerMs));
}

TEST(WebVideoPipeline, StatusSaysWhenTheFormatIsUnknown) {
  WebVideo v;
  std::string junk(1000, 'x');
  for (unsigned i = 0; i < kWebVideoProbeDatagrams; i++)
    web_video_feed(&v, reinterpret_cast<const uint8_t*>(junk.data()), junk.size(), false, i);
  web_video_tick(&v, 100);
  EXPECT_NE(web_video_status(&v).find("video format not recognised"), std::string::npos);
  web_video_tick(&v, 100 + 4000);  // silent: the next stream is looked at afresh
  EXPECT_NE(web_video_status(&v).find("\"message\":\"no video\""), std::string::npos);
}

}  // namespace
