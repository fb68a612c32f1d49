#include "source/text_encoder.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
__m128i bytes16(int c) { return _mm_set1_epi8(static_cast<char>(c)); }

// Which bytes of the sixteen in `v` are in place for four notations
// (\xHH or 0xHH) side by side, as a byte mask. Each notation is a 32-bit
// lane: its first two bytes, \x or 0x, and the two hex digits after them.
__m128i notation_bytes_ok(__m128i v) {
  const __m128i backslash_x = _mm_set1_epi32(0x785C), zero_x = _mm_set1_epi32(0x7830);
  const __m128i digit_lanes = _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
  const __m128i prefix = _mm_or_si128(_mm_cmpeq_epi8(v, backslash_x), _mm_cmpeq_epi8(v, zero_x));
  // A range of bytes moved to the bottom of the signed ones is told by
  // one comparison: 0-9 from 0x80, a-f (and A-F, with 0x20 set) too.
  const __m128i is_decimal = _mm_cmpgt_epi8(bytes16(0x80 + 10), _mm_add_epi8(v, bytes16(0x50)));
  const __m128i is_letter = _mm_cmpgt_epi8(
      bytes16(0x80 + 6), _mm_add_epi8(_mm_or_si128(v, bytes16(0x20)), bytes16(0x1F)));
  return _mm_or_si128(_mm_andnot_si128(digit_lanes, prefix),
                      _mm_and_si128(_mm_or_si128(is_decimal, is_letter), digit_lanes));
}

// The byte each of the four notations in `v` writes, in the low half of
// its 32-bit lane (the high half zero); `v` must pass notation_bytes_ok().
__m128i notation_values(__m128i v) {
  // A digit's value is its low four bits, and 9 more for a letter.
  const __m128i value = _mm_add_epi8(_mm_and_si128(v, bytes16(0x0F)),
                                     _mm_and_si128(_mm_cmpgt_epi8(v, bytes16(0x3F)), bytes16(9)));
  // The two digits of a notation are one 16-bit lane, the high digit in
  // the low byte; their byte goes to the lane's low byte, then to the low
  // half of the notation's lane.
  const __m128i pair = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(value, 4), _mm_set1_epi16(0xF0)),
                                    _mm_srli_epi16(value, 8));
  return _mm_srli_epi32(pair, 16);
}
#endif

// The whole notations (\xHH or 0xHH, two hex digits each) that `text`
// starts with, eight or four at a time: a UNICODE text is mostly nothing
// else, and sixteen bytes checked at once cost what one notation does byte
// by byte. Writes their bytes to `out` when given; returns how many there
// were, a multiple of four (none where vectors are not available: the
// callers' loops read the rest one notation at a time).
size_t notation_run(std::string_view text, char* out) {
  size_t done = 0;
#if defined(__SSE2__)
  const auto load = [&](size_t at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
  };
  // Thirty-two bytes a step while they are all notations, their eight
  // bytes packed together; then the rest sixteen at a time.
  for (; done + 32 <= text.size(); done += 32) {
    const __m128i low = load(done), high = load(done + 16);
    if (_mm_movemask_epi8(_mm_and_si128(notation_bytes_ok(low), notation_bytes_ok(high))) !=
        0xFFFF) {
      break;
    }
    if (out == nullptr) continue;
    const __m128i eight = _mm_packs_epi32(notation_values(low), notation_values(high));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + done / 4), _mm_packus_epi16(eight, eight));
  }
  for (; done + 16 <= text.size(); done += 16) {
    const __m128i v = load(done);
    if (_mm_movemask_epi8(notation_bytes_ok(v)) != 0xFFFF) break;
    if (out == nullptr) continue;
    const __m128i four = _mm_packs_epi32(notation_values(v), notation_values(v));
    const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(four, four));
    std::memcpy(out + done / 4, &packed, 4);
  }
#else
  (void)text;
  (void)out;
#endif
  return done / 4;
}

// Copies text[i..] up to the next backslash or the end to `*w`, advanced
// past what it wrote, and returns where it stopped. `*w` must have room for
// the rest of the text: a text copied in place is never longer than it
// reads.
size_t copy_to_backslash(std::string_view text, size_t i, char** w) {
  const size_t n = text.size();
#if defined(__SSE2__)
  // Most runs are short: sixteen bytes at a time are stored whole and
  // counted up to a backslash among them, with no call to find or copy
  // (vectors are on little-endian machines only, as the words below need).
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(*w), v);
    const unsigned backslashes =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
    if (backslashes != 0) {
      const int before = std::countr_zero(backslashes);
      *w += before;
      return i + before;
    }
    *w += 16;
  }
  // Eight of the last few at once (the lowest flag of the test for a zero
  // byte is always a true one), then one at a time.
  if (i + 8 <= n) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    std::memcpy(*w, &word, 8);
    const uint64_t x = word ^ ('\\' * kOnes);
    const uint64_t backslashes = (x - kOnes) & ~x & kHighs;
    if (backslashes != 0) {
      const int before = std::countr_zero(backslashes) / 8;
      *w += before;
      return i + before;
    }
    *w += 8;
    i += 8;
  }
  for (; i < n && text[i] != '\\'; ++i) *(*w)++ = text[i];
  return i;
#else
  const void* backslash = std::memchr(text.data() + i, '\\', n - i);
  const size_t next =
      backslash ? static_cast<size_t>(static_cast<const char*>(backslash) - text.data()) : n;
  std::memcpy(*w, text.data() + i, next - i);
  *w += next - i;
  return next;
#endif
}

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
  const size_t start = out->size();
  const size_t n = text.size();
  // Nothing writes more bytes than it reads: the text goes straight into
  // room made once, the terminator included, and the room is cut to what
  // was written at the end (or when an escape cannot be read).
  out->resize(start + n + 1);
  char* const first = out->data() + start;
  char* w = first;
  size_t i = 0;
  while (i < n) {
    i = copy_to_backslash(text, i, &w);
    if (i >= n) break;
    // text[i] is a backslash.
    if (i + 1 >= n) {  // a trailing lone backslash is dropped
      note(findings, i, "the text ends in a lone backslash, which is dropped");
      ++i;
      break;
    }
    const size_t escape_at = i;
    const char* const written_before = w;
    char c = text[i + 1];
    if (char simple = simple_escape(c)) {
      *w++ = simple;
      i += 2;
    } else if (c == 'x') {
      uint8_t d1 = i + 2 < n ? hex_digit_value(text[i + 2]) : 255;
      if (d1 == 255) {
        out->resize(start + static_cast<size_t>(w - first));
        std::string escape = "\\x";
        if (i + 2 < n) escape += text[i + 2];
        throw input_failure(escape + ": hex constants must have at least one hex digit");
      }
      uint8_t d2 = i + 3 < n ? hex_digit_value(text[i + 3]) : 255;
      if (d2 == 255) {
        *w++ = static_cast<char>(d1);
        i += 3;
      } else {
        *w++ = static_cast<char>(16 * d1 + d2);
        i += 4;
      }
    } else {
      int consumed = 0;
      uint8_t value = octal_escape(text.substr(i + 1), &consumed);
      if (consumed > 0) {
        *w++ = static_cast<char>(value);
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
    if (findings && w > written_before && w[-1] == '\0' && i < n) {
      note(findings, escape_at,
           "the escape " + quoted(text.substr(escape_at, i - escape_at)) +
               " writes a 0x00 byte before the end: readers see the text end there");
    }
  }
  *w++ = '\0';
  const size_t length = static_cast<size_t>(w - first);
  out->resize(start + length);
  return static_cast<uint32_t>(length);
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
  const size_t run = notation_run(text, w);
  w += run;
  size_t i = 4 * run;
  if (run > 0) last_notation_end = i;
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

uint32_t encode_text(std::string_view text, uint16_t coding, std::string* out,
                     std::vector<TextFinding>* findings) {
  return coding == kUnicodeCoding ? encode_unicode_text(text, out, findings)
                                  : encode_byte_text(text, out, findings);
}

}  // namespace tolvane
