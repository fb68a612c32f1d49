#include "translate/table_text.h"

#include <cstdio>

#include "msgfile/escape.h"
#include "source/unicode_text.h"

namespace tolvane::translate {
namespace {

std::string byte_name(unsigned char byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", byte);
  return buffer;
}

// "U+2014 (—)", or the offending bytes when they are no UTF-8.
std::string character_at(std::string_view utf8, size_t at) {
  size_t end = at;
  char32_t c;
  if (!next_utf8(utf8, &end, &c)) {
    return "the byte " + byte_name(static_cast<unsigned char>(utf8[at])) + ", which is no UTF-8,";
  }
  std::string shown = c < 0x20 ? "" : " (" + std::string(utf8.substr(at, end - at)) + ")";
  return "the character " + code_point_name(c) + shown;
}

}  // namespace

bool TableText::to_utf8(std::string_view bytes, std::string* utf8, std::string* why) const {
  size_t bad = 0;
  if (unicode_) {
    if (utf16be_to_utf8(bytes, utf8, &bad)) return true;
    *why = bytes.size() - bad < 2
               ? "the UTF-16 text ends in an odd byte"
               : "the UTF-16 text has a lone surrogate at byte " + std::to_string(bad);
    return false;
  }
  if (charset_.decode(bytes, utf8, &bad)) return true;
  const std::string byte = byte_name(static_cast<unsigned char>(bytes[bad]));
  *why = charset_.name() == "ASCII"
             ? "the byte " + byte + " is not ASCII; name the font's character set with --charset"
             : "the byte " + byte + " is no character of " + charset_.name();
  return false;
}

bool TableText::from_utf8(std::string_view utf8, std::string* bytes, std::string* why) const {
  size_t bad = 0;
  if (unicode_) {
    if (utf8_to_utf16be(utf8, bytes, &bad)) return true;
    *why = character_at(utf8, bad) + " cannot be read";
    return false;
  }
  if (!charset_.encode(utf8, bytes, &bad)) {
    *why = character_at(utf8, bad) + " is not in the character set " + charset_.name();
    return false;
  }
  if (bytes->find('\0') != std::string::npos) {
    *why = "the text becomes a 0x00 byte in " + charset_.name() + ", which would end it early";
    return false;
  }
  return true;
}

std::string TableText::literal(std::string_view bytes) const {
  return unicode_ ? byte_notation(bytes) : c_escape(bytes);
}

std::string readable_line(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      out += c_escape(std::string_view(&c, 1));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace tolvane::translate
