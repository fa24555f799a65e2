#include "viewer/viewer_allow.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>

namespace {

// Refused sources already logged, with what they tried; the oldest is
// forgotten first, so that a stream of spoofed addresses costs one line each
// at worst and no memory.
constexpr size_t kLoggedSources = 16;

struct ViewerAllow {
  std::mutex lock;
  std::vector<ViewerAllowNet> nets;
  // nets.empty(), read without the lock: the video relay asks per datagram.
  std::atomic<bool> everyone{true};
  struct Logged {
    uint32_t host;
    std::string what;
  } logged[kLoggedSources];
  size_t logged_count = 0;
  size_t logged_next = 0;
};

ViewerAllow& allow() {
  static ViewerAllow a;
  return a;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool parse_item(const std::string& item, ViewerAllowNet* out) {
  std::string address = item;
  int bits = 32;
  size_t slash = item.find('/');
  if (slash != std::string::npos) {
    address = item.substr(0, slash);
    std::string len = item.substr(slash + 1);
    if (len.empty() || len.size() > 2 || len.find_first_not_of("0123456789") != std::string::npos)
      return false;
    bits = atoi(len.c_str());
    if (bits > 32) return false;
  }
  in_addr a{};
  // inet_pton takes only dotted quads, unlike inet_aton's "10.1" shorthands.
  if (inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
  uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
  out->network = ntohl(a.s_addr) & mask;
  out->mask = mask;
  return true;
}

}  // namespace

bool viewer_allow_parse(const char* text, std::vector<ViewerAllowNet>* out, std::string* error) {
  std::vector<ViewerAllowNet> nets;
  std::string all = text ? text : "";
  if (!trim(all).empty()) {
    size_t start = 0;
    for (;;) {
      size_t comma = all.find(',', start);
      std::string item =
          trim(all.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      ViewerAllowNet net{};
      if (!parse_item(item, &net)) {
        *error = "bad network \"" + item + "\" (want A.B.C.D or A.B.C.D/N)";
        return false;
      }
      nets.push_back(net);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  *out = nets;
  return true;
}

void viewer_allow_set(const std::vector<ViewerAllowNet>& nets) {
  ViewerAllow& a = allow();
  std::lock_guard<std::mutex> hold(a.lock);
  a.nets = nets;
  a.everyone.store(nets.empty());
  a.logged_count = 0;
  a.logged_next = 0;
}

bool viewer_allow_admits(const in_addr& source, const char* what) {
  ViewerAllow& a = allow();
  if (a.everyone.load(std::memory_order_relaxed)) return true;
  uint32_t host = ntohl(source.s_addr);
  {
    std::lock_guard<std::mutex> hold(a.lock);
    if (a.nets.empty()) return true;
    for (const ViewerAllowNet& n : a.nets)
      if ((host & n.mask) == n.network) return true;
    for (size_t i = 0; i < a.logged_count; i++)
      if (a.logged[i].host == host && a.logged[i].what == what) return false;
    a.logged[a.logged_next] = {host, what};
    a.logged_next = (a.logged_next + 1) % kLoggedSources;
    if (a.logged_count < kLoggedSources) a.logged_count++;
  }
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &source, text, sizeof text);
  fprintf(stderr, "%s from %s refused: not in --viewer-allow (logged once per source)\n", what,
          text);
  return false;
}
