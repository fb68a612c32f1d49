#include "source/text_encoder.h"

#include <array>

#include "platform/failure.h"

namespace tolvane {
namespace {

bool is_octal(char c) { return c >= '0' && c <= '7'; }

char simple_escape(char c) {
  switch (c) {
    case '"':
      return '"';
    case '\'':
      return '\'';
    case '?':
      return '?';
    case '\\':
      return '\\';
    case 'a':
      return '\a';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'v':
      return '\v';
    default:
      return 0;
  }
}

}  // namespace

namespace {

// hex_digit_value() of every byte, looked up rather than tested: a UNICODE
// text spells every byte out in hexadecimal.
constexpr std::array<uint8_t, 256> kHexValues = [] {
  std::array<uint8_t, 256> values{};
  for (int c = 0; c < 256; ++c) {
    values[c] = c >= '0' && c <= '9'   ? static_cast<uint8_t>(c - '0')
                : c >= 'a' && c <= 'f' ? static_cast<uint8_t>(c - 'a' + 10)
                : c >= 'A' && c <= 'F' ? static_cast<uint8_t>(c - 'A' + 10)
                                       : 255;
  }
  return values;
}();

}  // namespace

uint8_t hex_digit_value(char c) { return kHexValues[static_cast<unsigned char>(c)]; }

uint8_t octal_escape(std::string_view rest, int* consumed) {
  *consumed = 0;
  if (rest.empty() || !is_octal(rest[0])) return 0;
  int o1 = rest[0] - '0';
  if (rest.size() < 2 || !is_octal(rest[1])) {
    *consumed = 1;
    return static_cast<uint8_t>(o1);
  }
  int o2 = rest[1] - '0';
  if (rest.size() < 3 || !is_octal(rest[2])) {
    *consumed = 2;
    return static_cast<uint8_t>(8 * o1 + o2);
  }
  // Three digits only make a byte up to \377.
  if (o1 > 3) return 0;
  *consumed = 3;
  return static_cast<uint8_t>(64 * o1 + 8 * o2 + (rest[2] - '0'));
}

uint32_t encode_byte_text(std::string_view text, std::string* out) {
  size_t start = out->size();
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    // Copy the run up to the next backslash in one piece.
    size_t next = text.find('\\', i);
    if (next == std::string_view::npos) next = n;
    out->append(text.data() + i, next - i);
    i = next;
    if (i >= n) break;
    // text[i] is a backslash.
    if (i + 1 >= n) {  // a trailing lone backslash is dropped
      ++i;
      break;
    }
    char c = text[i + 1];
    if (char simple = simple_escape(c)) {
      out->push_back(simple);
      i += 2;
    } else if (c == 'x') {
      uint8_t d1 = i + 2 < n ? hex_digit_value(text[i + 2]) : 255;
      if (d1 == 255) {
        std::string escape = "\\x";
        if (i + 2 < n) escape += text[i + 2];
        throw input_failure(escape + ": hex constants must have at least one hex digit", escape);
      }
      uint8_t d2 = i + 3 < n ? hex_digit_value(text[i + 3]) : 255;
      if (d2 == 255) {
        out->push_back(static_cast<char>(d1));
        i += 3;
      } else {
        out->push_back(static_cast<char>(16 * d1 + d2));
        i += 4;
      }
    } else {
      int consumed = 0;
      uint8_t value = octal_escape(text.substr(i + 1), &consumed);
      if (consumed > 0) {
        out->push_back(static_cast<char>(value));
        i += 1 + consumed;
      } else {
        // Unrecognised escape: only the backslash is dropped.
        ++i;
      }
    }
  }
  out->push_back('\0');
  return static_cast<uint32_t>(out->size() - start);
}

uint32_t encode_unicode_text(std::string_view text, std::string* out) {
  const size_t start = out->size();
  const size_t n = text.size();
  // Each byte takes a notation of four characters: room for them all and the
  // terminator, written in place.
  out->resize(start + n / 4 + 2);
  char* const begin = out->data() + start;
  char* p = begin;
  const char* const t = text.data();
  // With fewer than four characters left, a notation would be cut short and
  // writes nothing: the scan stops there.
  for (size_t i = 0; i + 4 <= n;) {
    if (t[i + 1] == 'x' && (t[i] == '\\' || t[i] == '0')) {
      const unsigned d1 = kHexValues[static_cast<unsigned char>(t[i + 2])];
      const unsigned d2 = kHexValues[static_cast<unsigned char>(t[i + 3])];
      *p++ = static_cast<char>((16 * d1 + d2) & 0xFF);
      i += 4;
    } else {
      ++i;
    }
  }
  *p++ = '\0';
  *p++ = '\0';
  out->resize(start + static_cast<size_t>(p - begin));
  return static_cast<uint32_t>(p - begin);
}

uint32_t encode_text(std::string_view text, uint16_t coding, std::string* out) {
  return coding == kUnicodeCoding ? encode_unicode_text(text, out) : encode_byte_text(text, out);
}

}  // namespace tolvane
