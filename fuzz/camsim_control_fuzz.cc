// fuzz_camsim_control: datagrams on pqw-camsim's control socket. Each
// input is one datagram as read_control takes it (at most 255 bytes), or
// several separated by 0xFF; every answer must be one line: "ok", an
// "error: " line, or a JSON object. The bus is closed, so sends only count.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/camsim_control.h"

namespace {

constexpr size_t kControlDatagramMax = 255;  // read_control's buffer, less its NUL

void check_answer(const std::string& a) {
  if (a.empty() || a.back() != '\n') abort();
  if (a == "ok\n" || a.rfind("error: ", 0) == 0) return;
  if (a.front() != '{' || a.find('\n') != a.size() - 1 || a[a.size() - 2] != '}') abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Camsim cs;
  size_t start = 0;
  for (size_t i = 0; i <= size; i++) {
    if (i < size && data[i] != 0xFF) continue;
    size_t n = i - start;
    if (n > kControlDatagramMax) n = kControlDatagramMax;
    std::string text(reinterpret_cast<const char*>(data + start), n);
    check_answer(camsim_command(&cs, text));
    if (cs.corrupt < 0 || cs.truncate < 0 || cs.badlen < 0) abort();
    start = i + 1;
  }
  return 0;
}
