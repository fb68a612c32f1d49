#include "source/unicode_text.h"

#include <cstdint>
#include <cstdio>

namespace tolvane {

bool next_utf8(std::string_view utf8, size_t* i, char32_t* c) {
  const size_t at = *i;
  if (at >= utf8.size()) return false;
  const uint8_t lead = static_cast<uint8_t>(utf8[at]);
  size_t length;
  char32_t value;
  char32_t min;
  if (lead < 0x80) {
    *c = lead;
    *i = at + 1;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (utf8.size() - at < length) return false;
  for (size_t k = 1; k < length; ++k) {
    const uint8_t next = static_cast<uint8_t>(utf8[at + k]);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *c = value;
  *i = at + length;
  return true;
}

void append_utf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

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
