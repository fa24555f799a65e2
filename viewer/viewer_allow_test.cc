#include "viewer/viewer_allow.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

in_addr ip(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a;
}

struct AllowGuard {
  ~AllowGuard() { viewer_allow_set({}); }
};

TEST(ViewerAllow, ParsesListsAndNamesTheBadItem) {
  struct Row {
    const char* text;
    bool ok;
    size_t count;
    const char* error_part;
  } rows[] = {
      {"", true, 0, ""},
      {"  ", true, 0, ""},
      {"192.168.1.0/24", true, 1, ""},
      {"10.0.0.7, 127.0.0.0/8 ,0.0.0.0/0", true, 3, ""},
      {"192.168.1.0/33", false, 0, "\"192.168.1.0/33\""},
      {"192.168.1.0/", false, 0, "\"192.168.1.0/\""},
      {"192.168.1.0/-1", false, 0, "\"192.168.1.0/-1\""},
      {"10.1/8", false, 0, "\"10.1/8\""},
      {"pi.local", false, 0, "\"pi.local\""},
      {"10.0.0.1,", false, 0, "\"\""},
      {"10.0.0.1,,10.0.0.2", false, 0, "\"\""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    std::vector<ViewerAllowNet> nets;
    std::string error;
    EXPECT_EQ(viewer_allow_parse(r.text, &nets, &error), r.ok);
    if (r.ok) {
      EXPECT_EQ(nets.size(), r.count);
    } else {
      EXPECT_NE(error.find(r.error_part), std::string::npos) << error;
    }
  }
}

TEST(ViewerAllow, AdmitsOnlyListedNetworksAndLogsEachRefusedSourceOnce) {
  AllowGuard guard;
  EXPECT_TRUE(viewer_allow_admits(ip("203.0.113.9"), "viewer datagram"));  // empty list: all
  std::vector<ViewerAllowNet> nets;
  std::string error;
  ASSERT_TRUE(viewer_allow_parse("192.168.7.77/24,127.0.0.1", &nets, &error));
  viewer_allow_set(nets);
  struct Row {
    const char* source;
    bool admitted;
  } rows[] = {{"192.168.7.1", true}, {"192.168.7.255", true}, {"192.168.8.1", false},
              {"127.0.0.1", true},   {"127.0.0.2", false},    {"0.0.0.0", false}};
  for (const Row& r : rows)
    EXPECT_EQ(viewer_allow_admits(ip(r.source), "x"), r.admitted) << r.source;

  testing::internal::CaptureStderr();
  viewer_allow_admits(ip("10.9.9.9"), "viewer datagram");
  viewer_allow_admits(ip("10.9.9.9"), "viewer datagram");
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log,
            "viewer datagram from 10.9.9.9 refused: not in --viewer-allow (logged once per "
            "source)\n");
}

}  // namespace
