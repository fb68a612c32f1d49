#include "source/unicode_text.h"

#include <cstdint>
#include <cstdio>

namespace tolvane {

std::string code_point_name(char32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
  return buffer;
}

bool utf16be_to_utf8(std::string_view bytes, std::string* utf8, size_t* bad) {
  utf8->clear();
  auto unit = [&](size_t at) {
    return static_cast<char32_t>(static_cast<uint8_t>(bytes[at]) << 8 |
                                 static_cast<uint8_t>(bytes[at + 1]));
  };
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes.size() - i < 2) {
      *bad = i;
      return false;
    }
    char32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) {
      *bad = i;
      return false;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (bytes.size() - i < 4 || unit(i + 2) < 0xDC00 || unit(i + 2) > 0xDFFF) {
        *bad = i;
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    }
    i += 2;
    append_utf8(c, utf8);
  }
  return true;
}

bool utf8_to_utf16be(std::string_view utf8, std::string* bytes, size_t* bad) {
  bytes->clear();
  auto put = [&](char32_t unit) {
    bytes->push_back(static_cast<char>(unit >> 8));
    bytes->push_back(static_cast<char>(unit & 0xFF));
  };
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t c;
    if (!next_utf8(utf8, &i, &c)) {
      *bad = i;
      return false;
    }
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return true;
}

}  // namespace tolvane
