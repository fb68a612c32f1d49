#include "source/text_encoder.h"

#include <array>
#include <cstdio>

#include "base/failure.h"
#include "source/diagnostics.h"

namespace tolvane {
namespace {

void note(std::vector<TextFinding>* findings, size_t offset, std::string text) {
  if (findings) findings->push_back({offset, std::move(text)});
}

std::string hex_byte(unsigned value) {
  static const char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[(value >> 4) & 15] + kHex[value & 15];
}

// The character at the start of `rest` as a code point, when `rest` starts
// with a well-formed UTF-8 sequence; 0 otherwise.
char32_t utf8_at(std::string_view rest) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(rest[i]); };
  if (rest.empty() || b(0) < 0x80) return rest.empty() ? 0 : b(0);
  const size_t n = b(0) >= 0xF0 ? 4 : b(0) >= 0xE0 ? 3 : b(0) >= 0xC2 ? 2 : 0;
  if (n == 0 || b(0) > 0xF4 || rest.size() < n) return 0;
  char32_t c = b(0) & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(i) & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return c;
}

// How a UNICODE text spells `c`: its UTF-16 units, high byte first.
std::string notations_of(char32_t c) {
  std::string out;
  auto unit = [&](unsigned u) {
    for (unsigned byte : {u >> 8, u & 0xFF}) out += "\\x" + hex_byte(byte).substr(2);
  };
  if (c >= 0x10000) {
    unit(0xD800 + ((c - 0x10000) >> 10));
    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    unit(static_cast<unsigned>(c));
  }
  return out;
}

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// hex_digit_value() of every byte: it runs for every notation of a text.
constexpr auto kHexValues = [] {
  std::array<uint8_t, 256> values{};
  for (int c = 0; c < 256; ++c) {
    values[c] = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : 255;
  }
  return values;
}();

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

uint32_t encode_byte_text(std::string_view text, std::string* out,
                          std::vector<TextFinding>* findings) {
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
      note(findings, i, "the text ends in a lone backslash, which is dropped");
      ++i;
      break;
    }
    const size_t escape_at = i;
    const size_t written_before = out->size();
    char c = text[i + 1];
    if (char simple = simple_escape(c)) {
      out->push_back(simple);
      i += 2;
    } else if (c == 'x') {
      uint8_t d1 = i + 2 < n ? hex_digit_value(text[i + 2]) : 255;
      if (d1 == 255) {
        std::string escape = "\\x";
        if (i + 2 < n) escape += text[i + 2];
        throw input_failure(escape + ": hex constants must have at least one hex digit");
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
        note(findings, i,
             is_octal(c)
                 ? "the escape " + quoted(text.substr(i, 4)) +
                       " is no escape (an octal escape goes up to \\377): the "
                       "backslash is dropped"
                 : "unknown escape " + quoted(text.substr(i, 2)) + ": the backslash is dropped");
        ++i;
      }
    }
    if (findings && out->size() > written_before && out->back() == '\0' && i < n) {
      note(findings, escape_at,
           "the escape " + quoted(text.substr(escape_at, i - escape_at)) +
               " writes a 0x00 byte before the end: readers see the text end there");
    }
  }
  out->push_back('\0');
  return static_cast<uint32_t>(out->size() - start);
}

uint32_t encode_unicode_text(std::string_view text, std::string* out,
                             std::vector<TextFinding>* findings) {
  const size_t start = out->size();
  const size_t n = text.size();
  // Every byte written takes a whole notation of four characters: the bytes
  // go straight into room made once, not one push_back each.
  out->resize(start + n / 4 + 2);
  char* const first = out->data() + start;
  char* w = first;
  bool ignored_seen = false, digits_seen = false;
  size_t last_notation_end = 0;  // where the last notation ended, when any
  size_t i = 0;
  // The usual text is notation after notation: those are read without the
  // bookkeeping findings need, up to the first anything else.
  while (i + 4 <= n && text[i + 1] == 'x' && (text[i] == '\\' || text[i] == '0')) {
    const unsigned d1 = hex_digit_value(text[i + 2]), d2 = hex_digit_value(text[i + 3]);
    if ((d1 | d2) > 15) break;
    *w++ = static_cast<char>(16 * d1 + d2);
    i += 4;
    last_notation_end = i;
  }
  while (i < n) {
    bool notation = i + 1 < n && text[i + 1] == 'x' && (text[i] == '\\' || text[i] == '0');
    if (!notation) {
      // Blanks and commas are how notations are kept apart; anything else
      // is most likely a character meant to be written.
      if (findings && !ignored_seen && text[i] != ' ' && text[i] != '\t' && text[i] != ',') {
        ignored_seen = true;
        const char32_t c = utf8_at(text.substr(i));
        std::string example = "U+0041 is \\x00\\x41";
        if (i > 0 && i == last_notation_end && hex_digit_value(text[i]) != 255) {
          // "\x3042": the notation took two of the digits.
          example = "each notation takes two hex digits: U+3042 is \\x30\\x42";
        } else if (c != 0) {
          char code[16];
          std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
          example = std::string(code) + " is " + notations_of(c);
        }
        note(findings, i,
             "a UNICODE text is written in byte notations only: from " +
                 quoted(text.substr(i), 12) +
                 " on, characters other than \\xHH or 0xHH, blanks and commas are ignored; "
                 "write each UTF-16 unit as two notations, high byte first (" +
                 example + ")");
      }
      ++i;
      continue;
    }
    // A notation cut short by the end of the text writes nothing.
    if (i + 3 >= n) {
      note(findings, i,
           "the byte notation " + quoted(text.substr(i)) +
               " is cut short by the end of the text: it writes nothing");
      break;
    }
    unsigned d1 = hex_digit_value(text[i + 2]);
    unsigned d2 = hex_digit_value(text[i + 3]);
    if (findings && !digits_seen && (d1 == 255 || d2 == 255)) {
      digits_seen = true;
      note(findings, i,
           "the byte notation " + quoted(text.substr(i, 4)) +
               " does not have two hex digits: it writes the byte " +
               hex_byte((16 * d1 + d2) & 0xFF) +
               (d1 != 255 ? "; write \\x0" + std::string(1, text[i + 2]) : std::string()));
    }
    *w++ = static_cast<char>((16 * d1 + d2) & 0xFF);
    i += 4;
    last_notation_end = i;
  }
  const size_t bytes = static_cast<size_t>(w - first);
  if (bytes % 2 != 0) {
    note(findings, 0,
         "the UNICODE text gives " + std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes") +
             ", an odd number: its last UTF-16 unit has only one byte");
  }
  w[0] = '\0';
  w[1] = '\0';
  out->resize(start + bytes + 2);
  return static_cast<uint32_t>(bytes + 2);
}

bool plain_text(std::string_view text, uint16_t coding) {
  const size_t n = text.size();
  if (coding == kUnicodeCoding) {
    // Whole notations with two hex digits, blanks and commas, and an even
    // number of bytes: what encode_unicode_text() reports nothing about.
    size_t bytes = 0;
    for (size_t i = 0; i < n;) {
      const char c = text[i];
      if (i + 1 < n && text[i + 1] == 'x' && (c == '\\' || c == '0')) {
        if (i + 3 >= n || (hex_digit_value(text[i + 2]) | hex_digit_value(text[i + 3])) > 15) {
          return false;
        }
        ++bytes;
        i += 4;
      } else if (c == ' ' || c == '\t' || c == ',') {
        ++i;
      } else {
        return false;
      }
    }
    return bytes % 2 == 0;
  }
  // A byte text says something other than it reads only at a backslash:
  // each escape is read as encode_byte_text() reads it, nothing written.
  for (size_t i = 0;;) {
    i = text.find('\\', i);
    if (i == std::string_view::npos) return true;
    if (i + 1 >= n) return false;  // a lone backslash at the end
    const char c = text[i + 1];
    unsigned value = 1;
    if (simple_escape(c) != 0) {  // never a 0x00 byte
      i += 2;
    } else if (c == 'x') {
      const unsigned d1 = i + 2 < n ? hex_digit_value(text[i + 2]) : 255;
      if (d1 == 255) return false;
      const unsigned d2 = i + 3 < n ? hex_digit_value(text[i + 3]) : 255;
      value = d2 == 255 ? d1 : 16 * d1 + d2;
      i += d2 == 255 ? 3 : 4;
    } else {
      int consumed = 0;
      value = octal_escape(text.substr(i + 1), &consumed);
      if (consumed == 0) return false;
      i += 1 + consumed;
    }
    if (value == 0 && i < n) return false;  // a 0x00 byte before the end
  }
}

uint32_t encode_text(std::string_view text, uint16_t coding, std::string* out,
                     std::vector<TextFinding>* findings) {
  return coding == kUnicodeCoding ? encode_unicode_text(text, out, findings)
                                  : encode_byte_text(text, out, findings);
}

}  // namespace tolvane
