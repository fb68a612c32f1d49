#include "dump/utf8_view.h"

#include <cstdio>

#include "msgfile/escape.h"
#include "source/unicode_text.h"

namespace tolvane::dump {

std::optional<std::string> Utf8View::utf8(std::string_view bytes, bool unicode) const {
  std::string out;
  size_t bad = 0;
  const bool decoded =
      unicode ? utf16be_to_utf8(bytes, &out, &bad) : charset_.decode(bytes, &out, &bad);
  if (!decoded) return std::nullopt;
  return out;
}

std::string quoted_utf8(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') {
      out += c_escape(std::string_view(&c, 1));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string json_utf8(std::string_view utf8) {
  std::string out;
  auto unit = [&](unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", value);
    out += buffer;
  };
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t c;
    if (!next_utf8(utf8, &i, &c)) {  // never from a decoder; kept visible all the same
      unit(0xFFFD);
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x10000) {
      unit(c);
    } else {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

}  // namespace tolvane::dump
