// libFuzzer target: any listing text through the media listing's pickers.
// The picked names must fit their buffers and carry no control characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "periph/media_listing.h"

namespace {

void check_name(const char* out, size_t n, size_t size) {
  if (n >= size || strlen(out) != n) abort();
  for (size_t i = 0; i < n; i++) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 0x20 || c == 0x7F) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMediaListingSize - 1) size = kMediaListingSize - 1;
  std::vector<char> listing(data, data + size);
  listing.push_back('\0');
  const size_t sizes[] = {1, 2, 9, kMediaNameSize};
  for (size_t s : sizes) {
    std::vector<char> out(s, 'x');
    check_name(out.data(), media_pick_folder(listing.data(), out.data(), s), s);
    check_name(out.data(), media_last_name(listing.data(), out.data(), s), s);
  }
  return 0;
}
