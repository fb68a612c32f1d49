#include "platform/utf8.h"

#include <cstdint>

namespace tolvane {

bool next_utf8(std::string_view utf8, size_t* i, char32_t* c, bool lone_surrogates) {
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
  if (value < min || value > 0x10FFFF) return false;
  if (!lone_surrogates && value >= 0xD800 && value <= 0xDFFF) return false;
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

}  // namespace tolvane
