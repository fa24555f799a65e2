// Journal formatting: priorities on every line, colour escapes removed; the
// terminal text byte for byte.
#include "platform/log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string format(LogLevel level, bool journal, const char* text, bool* start) {
  char out[256];
  size_t n = 0;
  log_format(level, journal, text, start, out, sizeof out, &n);
  EXPECT_EQ(n, strlen(out));
  return std::string(out, n);
}

TEST(LogFormat, Table) {
  struct Case {
    LogLevel level;
    bool journal;
    const char* text;
    const char* want;
  } cases[] = {
      {LogLevel::kInfo, false, "\033[1;37mPelquarinthos\033[0m\n",
       "\033[1;37mPelquarinthos\033[0m\n"},
      {LogLevel::kInfo, true, "\033[1;37mPelquarinthos\033[0m\n", "<6>Pelquarinthos\n"},
      {LogLevel::kError, true, "a\nb\n", "<3>a\n<3>b\n"},
      {LogLevel::kWarning, true, "\n", "<4>\n"},
      {LogLevel::kDebug, true, "CAN delta 12\n", "<7>CAN delta 12\n"},
      {LogLevel::kInfo, true, "cut \033[1", "<6>cut "},  // an escape cut short is dropped
      {LogLevel::kInfo, false, "", ""},
  };
  for (const Case& c : cases) {
    bool start = true;
    EXPECT_EQ(format(c.level, c.journal, c.text, &start), c.want) << c.text;
  }
}

TEST(LogFormat, APartLineContinuesWithoutAnotherPrefix) {
  bool start = true;
  EXPECT_EQ(format(LogLevel::kInfo, true, "scan ", &start), "<6>scan ");
  EXPECT_FALSE(start);
  EXPECT_EQ(format(LogLevel::kInfo, true, "done\nnext", &start), "done\n<6>next");
}

TEST(LogFormat, OutputIsBoundedAndTerminated) {
  bool start = true;
  char out[6];
  size_t n = 0;
  log_format(LogLevel::kError, true, "abcdefgh\n", &start, out, sizeof out, &n);
  EXPECT_EQ(std::string(out), "<3>ab");
  EXPECT_EQ(n, 5u);
}

TEST(LogText, ArgumentsCannotWriteLinesOfTheirOwn) {
  // The format's own newlines stay; %s and %c arguments are escaped.
  struct Case {
    std::string got;
    const char* want;
  } cases[] = {
      {log_text("client %s:%d\n", "10.0.0.5", 4243), "client 10.0.0.5:4243\n"},
      {log_text("viewer %s\n", "x\nFORGED LINE: data disconnected"),
       "viewer x\\nFORGED LINE: data disconnected\n"},
      {log_text("%s|%c|%c", "\r\t\x1b[31m\x7f", '\n', 'k'), "\\r\\t\\x1b[31m\\x7f|\\n|k"},
      {log_text("[%-6s][%5s][%.3s][%.*s]", "ab", "cd", "\nabcdef", 2, "xyz"),
       "[ab    ][   cd][\\nab][xy]"},
      {log_text("%05.1f %lld %zu %x %lu %u%% %hhu", 3.14159, -9000000000LL, size_t{7}, 255u, 8ul,
                10u, 300),
       "003.1 -9000000000 7 ff 8 10% 44"},
      {log_text("%*d|%-3d|", 4, 7, 5), "   7|5  |"},
      {log_text("caf\xc3\xa9 %s", "caf\xc3\xa9"), "caf\xc3\xa9 caf\xc3\xa9"},  // UTF-8 kept
      {log_text("%s", std::string(3000, 'z').c_str()), nullptr},
  };
  for (const Case& c : cases) {
    if (c.want)
      EXPECT_EQ(c.got, c.want);
    else
      EXPECT_EQ(c.got, std::string(3000, 'z'));
  }
}

}  // namespace
