// Media listing: the listing parsers, then real lookups against an FTP
// server on loopback (pyftpdlib) serving a temporary card tree.
#include "periph/media_listing.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "core/hud_block.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "testing/inputs_fixture.h"

using namespace inputs_test;

namespace {

TEST(MediaListingParse, FolderIsTheLastLineWithMedia) {
  struct Case {
    const char* listing;
    const char* folder;
    const char* last;
  };
  const Case cases[] = {
      {"100MEDIA\n101MEDIA\n", "101MEDIA", "101MEDIA"},
      {"100MEDIA\r\n101MEDIA\r\nMISC\r\n", "101MEDIA", "MISC"},
      {"101MEDIA\r\n100MEDIA\r\n", "100MEDIA", "100MEDIA"},  // the server's order counts
      {"100MEDIA\n\n\n", "100MEDIA", "100MEDIA"},
      {"MISC\nCALIB\n", "", "CALIB"},
      {"", "", ""},
      {"\r\n\n\r\n", "", ""},
      {"A_MEDIA_B\nmedia\n", "A_MEDIA_B", "media"},
      {"100MEDIA", "100MEDIA", "100MEDIA"},
      {"DJI\x01X.JPG\r\n", "", "DJI?X.JPG"},
      {"x\rMEDIA\r\n", "x?MEDIA", "x?MEDIA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listing);
    char out[kMediaNameSize];
    EXPECT_EQ(media_pick_folder(c.listing, out, sizeof out), strlen(c.folder));
    EXPECT_STREQ(out, c.folder);
    EXPECT_EQ(media_last_name(c.listing, out, sizeof out), strlen(c.last));
    EXPECT_STREQ(out, c.last);
  }
  std::string long_line(150, 'M');
  long_line += "MEDIA\n";
  char out[kMediaNameSize];
  EXPECT_EQ(media_pick_folder(long_line.c_str(), out, sizeof out), kMediaNameSize - 1);
  EXPECT_EQ(std::string(out), std::string(kMediaNameSize - 1, 'M'));
}

// A loopback port that nothing listens on.
int closed_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

class FtpCard : public ::testing::Test {
 protected:
  TestSandbox root{"ftp"};
  FtpServer server;
  int port = 0;
  static uint8_t hud[kHudSize];

  void SetUp() override {
    memset(hud, 0, sizeof hud);
    hud_set_block(hud);
    mkdir((root.dir + "/card").c_str(), 0755);
    mkdir((root.dir + "/card/DCIM").c_str(), 0755);
  }
  void TearDown() override { media_listing_set_base("ftp://192.168.42.2/DCIM/"); }
  void file(const std::string& rel) {
    std::string path = root.dir + "/card/DCIM/" + rel;
    for (size_t at = path.find('/', root.dir.size() + 1); at != std::string::npos;
         at = path.find('/', at + 1)) {
      mkdir(path.substr(0, at).c_str(), 0755);
    }
    if (path.back() != '/') std::ofstream(path) << "x";
  }
  void start_server() {
    ASSERT_TRUE(server.start(root.dir, root.dir + "/card", root.dir + "/nlst"))
        << "FTP server did not start";
    port = server.port;
    media_listing_set_base(("ftp://127.0.0.1:" + std::to_string(port) + "/DCIM").c_str());
  }
  size_t nlst_count() { return root.read("nlst").size(); }
  std::string result() {
    char text[41] = {0};
    hud_read(hud, HUD_MEDIA_TEXT, text, 40);
    return text;
  }
  bool result_all_zero() {
    for (size_t i = 0; i < 40; i++) {
      if (hud[HUD_MEDIA_TEXT + i] != 0) return false;
    }
    return true;
  }
};

uint8_t FtpCard::hud[kHudSize];

TEST_F(FtpCard, NewestFileOfTheLastMediaFolder) {
  file("100MEDIA/DJI_0001.JPG");
  file("100MEDIA/DJI_0002.MOV");
  file("101MEDIA/DJI_0003.JPG");
  file("101MEDIA/DJI_0004.MOV");
  file("MISC/ZZZ.TXT");
  start_server();
  // The server ends name lines in CR LF; whether they still arrive depends on
  // libcurl's ASCII-mode line end conversion, so the CR is left out here.
  std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/DCIM/";
  char listing[256];
  ftp_list(url.c_str(), listing, sizeof listing);
  std::string text = listing;
  std::erase(text, '\r');
  EXPECT_EQ(text, "100MEDIA\n101MEDIA\nMISC\n");
  memset(listing, 'x', sizeof listing);
  ftp_list(url.c_str(), listing, 12);  // cut, and still terminated
  EXPECT_EQ(strlen(listing), 11u);
  EXPECT_EQ(std::string(listing, 8), "100MEDIA");
  media_listing_lookup();
  EXPECT_EQ(result(), "101MEDIA/DJI_0004.MOV");
}

TEST_F(FtpCard, EmptyFolderOrNoMediaFolderClearsTheResult) {
  file("100MEDIA/DJI_0001.JPG");
  file("101MEDIA/");
  start_server();
  hud_set_text(hud, HUD_MEDIA_TEXT, 40, "old/result");
  media_listing_lookup();
  EXPECT_TRUE(result_all_zero());

  file("101MEDIA/DJI_0009.JPG");
  media_listing_lookup();
  EXPECT_EQ(result(), "101MEDIA/DJI_0009.JPG");
}

TEST_F(FtpCard, NoMediaFolder) {
  file("MISC/A.JPG");
  start_server();
  hud_set_text(hud, HUD_MEDIA_TEXT, 40, "old/result");
  media_listing_lookup();
  EXPECT_TRUE(result_all_zero());
  EXPECT_EQ(nlst_count(), 1u);  // the folder is never listed
}

TEST_F(FtpCard, LongNamesAreCutTo39) {
  std::string name(60, 'A');
  file("100MEDIA/" + name);
  start_server();
  media_listing_lookup();
  EXPECT_EQ(result(), "100MEDIA/" + name.substr(0, 30));
  EXPECT_EQ(hud[HUD_MEDIA_TEXT + 39], 0);
}

TEST_F(FtpCard, ServerDown) {
  media_listing_set_base(("ftp://127.0.0.1:" + std::to_string(closed_port()) + "/DCIM/").c_str());
  hud_set_text(hud, HUD_MEDIA_TEXT, 40, "old/result");
  auto t0 = std::chrono::steady_clock::now();
  media_listing_lookup();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_TRUE(result_all_zero());
}

// The listing thread's one-second sleep, held until the test lets it go.
std::mutex g_gate_mutex;
std::condition_variable g_gate_cv;
int g_tickets = 0;
int g_sleeps = 0;

void gate_sleep(uint32_t) {
  std::unique_lock<std::mutex> lock(g_gate_mutex);
  g_sleeps++;
  g_gate_cv.notify_all();
  g_gate_cv.wait(lock, [] { return g_tickets > 0; });
  g_tickets--;
}

bool wait_sleeps(int n) {
  std::unique_lock<std::mutex> lock(g_gate_mutex);
  return g_gate_cv.wait_for(lock, std::chrono::seconds(20), [n] { return g_sleeps >= n; });
}

void let_go(int n) {
  std::lock_guard<std::mutex> lock(g_gate_mutex);
  g_tickets += n;
  g_gate_cv.notify_all();
}

// Runs last in this file: the thread it starts lives on.
TEST_F(FtpCard, ThreeRequestsWithinASecondGiveOneLookup) {
  file("100MEDIA/DJI_0001.JPG");
  start_server();
  sleep_set_fn(gate_sleep);
  uint32_t before = media_listing_lookups();
  media_listing_init();
  thread_start("pqw-ftp", media_listing_loop);
  ASSERT_TRUE(wait_sleeps(1));
  EXPECT_EQ(nlst_count(), 0u);  // no request, no traffic
  media_listing_request();
  media_listing_request();
  media_listing_request();
  EXPECT_EQ(media_listing_lookups(), before);  // the caller never waits for the network
  let_go(1);
  ASSERT_TRUE(wait_sleeps(2));
  EXPECT_EQ(media_listing_lookups(), before + 1);
  EXPECT_EQ(nlst_count(), 2u);
  EXPECT_EQ(result(), "100MEDIA/DJI_0001.JPG");
  let_go(1);
  ASSERT_TRUE(wait_sleeps(3));
  EXPECT_EQ(media_listing_lookups(), before + 1);
  sleep_set_fn(nullptr);
  let_go(1000000);
}

}  // namespace
