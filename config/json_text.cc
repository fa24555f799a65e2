#include "config/json_text.h"

#include <cstring>

void json_escape_append(std::string& out, const char* text) {
  if (!text) return;
  json_escape_append(out, text, strlen(text));
}

void json_escape_append(std::string& out, const char* text, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < length; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
}
