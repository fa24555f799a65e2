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

}  // namespace
