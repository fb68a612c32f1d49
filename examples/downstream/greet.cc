// greet CATALOGUE LANGUAGE: says hello in LANGUAGE (EN, FR, JA, ...) with the
// texts of an MSG catalogue, found by the names of the generated header.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "greet_names.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Little-endian fields; reading past the end gives zeros.
uint32_t u16(const Bytes& b, size_t at) { return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0; }
uint32_t u32(const Bytes& b, size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

void put_utf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    *out += char(c);
  } else if (c < 0x800) {
    *out += char(0xC0 | c >> 6);
    *out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += char(0xE0 | c >> 12);
    *out += char(0x80 | (c >> 6 & 0x3F));
    *out += char(0x80 | (c & 0x3F));
  } else {
    *out += char(0xF0 | c >> 18);
    *out += char(0x80 | (c >> 12 & 0x3F));
    *out += char(0x80 | (c >> 6 & 0x3F));
    *out += char(0x80 | (c & 0x3F));
  }
}

// The text of message `id` in the first table of `language`, as UTF-8.
std::optional<std::string> find_text(const Bytes& msg, const std::string& language, uint32_t id) {
  const uint32_t languages = u16(msg, 36);
  for (uint32_t i = 0; i < languages && 38 + 8 * (i + 1) <= msg.size(); ++i) {
    const size_t entry = 38 + 8 * i;
    if (std::string(reinterpret_cast<const char*>(&msg[entry]), 2) != language) continue;
    if (u16(msg, entry + 2) == 0) return std::nullopt;
    const size_t record = u32(msg, entry + 4);
    const bool unicode = u16(msg, record + 36) == 0;
    const uint32_t count = u16(msg, record + 38);
    const size_t index = u32(msg, record + 40);
    for (uint32_t k = 0; k < count; ++k) {
      const size_t at = index + 6 * k;
      if (u16(msg, at) != id) continue;
      size_t p = at + 6 + u32(msg, at + 2);
      std::string text;
      if (unicode) {  // UTF-16 code units, high byte first, ended by 0x0000
        for (; p + 1 < msg.size(); p += 2) {
          uint32_t unit = msg[p] << 8 | msg[p + 1];
          if (unit == 0) break;
          if (unit >= 0xD800 && unit < 0xDC00 && p + 3 < msg.size()) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + ((msg[p + 2] << 8 | msg[p + 3]) - 0xDC00);
            p += 2;
          }
          put_utf8(unit, &text);
        }
      } else {  // ISO 8859-1 bytes, ended by 0x00
        for (; p < msg.size() && msg[p] != 0; ++p) put_utf8(msg[p], &text);
      }
      return text;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: greet CATALOGUE LANGUAGE\n";
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const Bytes msg{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const auto name = find_text(msg, argv[2], GREET_LANGUAGE);
  const auto hello = find_text(msg, argv[2], GREET_HELLO);
  if (!file || !name || !hello) {
    std::cerr << "greet: no language " << argv[2] << " in " << argv[1] << "\n";
    return 1;
  }
  std::cout << *name << ": " << *hello << "\n";
  return 0;
}
