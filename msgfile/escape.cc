#include "msgfile/escape.h"

#include <cstdio>

#include "msgfile/records.h"

namespace tolvane {

std::string c_escape(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\a':
        out += "\\a";
        continue;
      case '\b':
        out += "\\b";
        continue;
      case '\f':
        out += "\\f";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\v':
        out += "\\v";
        continue;
      default:
        break;
    }
    if (u >= 0x20 && u < 0x7F) {
      out.push_back(c);
    } else {
      out.push_back('\\');
      out.push_back(static_cast<char>('0' + (u >> 6)));
      out.push_back(static_cast<char>('0' + ((u >> 3) & 7)));
      out.push_back(static_cast<char>('0' + (u & 7)));
    }
  }
  return out;
}

std::string byte_notation(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(4 * bytes.size());
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    out += "\\x";
    out.push_back(kDigits[u >> 4]);
    out.push_back(kDigits[u & 0xF]);
  }
  return out;
}

std::string field_text(const char* field, size_t width) {
  return c_escape(get_chars(field, width));
}

std::string hex_number(uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, static_cast<unsigned>(value));
  return buffer;
}

std::string hex_digits(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(value));
  return buffer;
}

std::string hex_bytes(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (char c : bytes) {
    out.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
    out.push_back(kDigits[static_cast<unsigned char>(c) & 0xF]);
  }
  return out;
}

}  // namespace tolvane
