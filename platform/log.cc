#include "platform/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/clock.h"

namespace {

constexpr int32_t kHealthIntervalMs = 60000;

struct LogStream {
  FILE* file;
  int fd;
  std::atomic<bool> journal{false};
  bool at_line_start = true;
};

struct LogState {
  std::mutex mutex;
  LogStream out{stdout, 1};
  LogStream err{stderr, 2};
  bool health_said = false;
  uint32_t health_last = 0;
};

LogState& log_state() {
  // Never destroyed: threads may still log while exit() runs destructors.
  static LogState* s = new LogState;
  return *s;
}

bool stream_is_journal(const char* env, int fd) {
  if (!env) return false;
  unsigned long long dev = 0, ino = 0;
  if (sscanf(env, "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
}

void write_text(LogStream& s, LogLevel level, const char* fmt, va_list ap) {
  char small[512];
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return;
  std::string big;
  const char* text = small;
  if (static_cast<size_t>(n) >= sizeof small) {
    big.resize(static_cast<size_t>(n) + 1);
    vsnprintf(big.data(), big.size(), fmt, ap);
    text = big.c_str();
  }
  if (!s.journal.load(std::memory_order_relaxed)) {
    fputs(text, s.file);
    return;
  }
  // Worst case: a prefix for every character.
  std::vector<char> out(strlen(text) * 4 + 8);
  size_t length = 0;
  std::lock_guard<std::mutex> lock(log_state().mutex);
  log_format(level, true, text, &s.at_line_start, out.data(), out.size(), &length);
  fwrite(out.data(), 1, length, s.file);
}

}  // namespace

void log_init() {
  LogState& s = log_state();
  const char* env = getenv("JOURNAL_STREAM");
  s.out.journal.store(stream_is_journal(env, 1));
  s.err.journal.store(stream_is_journal(env, 2));
}

bool log_to_journal(int fd) { return (fd == 1 ? log_state().out : log_state().err).journal.load(); }

void log_format(LogLevel level, bool journal, const char* text, bool* at_line_start, char* out,
                size_t out_size, size_t* out_length) {
  size_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < out_size) out[n++] = c;
  };
  for (const char* p = text; *p; p++) {
    if (journal && *p == '\033' && p[1] == '[') {
      // A colour escape: ESC [ parameters, ending with a letter.
      const char* q = p + 2;
      while (*q && !((*q >= 'A' && *q <= 'Z') || (*q >= 'a' && *q <= 'z'))) q++;
      if (!*q) break;
      p = q;
      continue;
    }
    if (journal && *at_line_start) {
      put('<');
      put(static_cast<char>('0' + static_cast<int>(level)));
      put('>');
    }
    put(*p);
    *at_line_start = *p == '\n';
  }
  if (out_size > 0) out[n] = '\0';
  *out_length = n;
}

#define PQW_LOG_BODY(stream, level)               \
  va_list ap;                                     \
  va_start(ap, fmt);                              \
  write_text(log_state().stream, level, fmt, ap); \
  va_end(ap)

void log_error(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kError); }
void log_warning(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kWarning); }
void log_info(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kInfo); }
void log_debug(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kDebug); }

void log_out(LogLevel level, const char* fmt, ...) { PQW_LOG_BODY(out, level); }

void log_health(const char* fmt, ...) {
  LogState& s = log_state();
  if (s.out.journal.load()) {
    std::lock_guard<std::mutex> lock(s.mutex);
    uint32_t now = time_ms();
    if (s.health_said && time_age(now, s.health_last) < kHealthIntervalMs) return;
    s.health_said = true;
    s.health_last = now;
  }
  PQW_LOG_BODY(out, LogLevel::kDebug);
}
