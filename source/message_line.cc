#include "source/message_line.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tolvane {
namespace {

// The characters of a C identifier.
constexpr auto kIdentifierChars = [] {
  std::array<bool, 256> chars{};
  for (int c = 0; c < 256; ++c) {
    chars[c] =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  return chars;
}();

#if defined(__SSE2__)
// Which of the sixteen bytes at `p` are identifier characters, as bits.
unsigned identifier_chars16(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const auto bytes = [](int c) { return _mm_set1_epi8(static_cast<char>(c)); };
  // A range of bytes moved to the bottom of the signed ones is told by one
  // comparison; letters of either case are one range once 0x20 is set.
  const __m128i letter = _mm_cmpgt_epi8(
      bytes(0x80 + 26), _mm_add_epi8(_mm_or_si128(v, bytes(0x20)), bytes(0x80 - 'a')));
  const __m128i digit = _mm_cmpgt_epi8(bytes(0x80 + 10), _mm_add_epi8(v, bytes(0x80 - '0')));
  const __m128i underscore = _mm_cmpeq_epi8(v, bytes('_'));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(letter, digit), underscore)));
}
#endif

}  // namespace

size_t token_end(std::string_view line, size_t i) {
  // Eight bytes at a time past those that are all above 0x20, so no space;
  // the first byte below 0x21 is where the closer look starts (the lowest
  // flag of the test below is always a true one).
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  for (; i + 8 <= line.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, line.data() + i, 8);
    const uint64_t low = (word - 0x21 * kOnes) & ~word & kHighs;
    if (low != 0) {
      if constexpr (std::endian::native == std::endian::little) i += std::countr_zero(low) / 8;
      break;
    }
  }
  while (i < line.size() && !is_space(line[i])) ++i;
  return i;
}

MessageName message_name_of(std::string_view line, size_t id_end) {
  const size_t begin = skip_spaces(line, id_end);
#if defined(__SSE2__)
  // Most names are a few identifier characters and a blank, seen in one
  // look at sixteen bytes.
  if (begin + 16 <= line.size()) {
    const unsigned run = static_cast<unsigned>(std::countr_one(identifier_chars16(&line[begin])));
    if (run < 16 && is_space(line[begin + run])) return {line.substr(begin, run), true};
  }
#endif
  size_t end = begin;
  while (end < line.size() && kIdentifierChars[static_cast<unsigned char>(line[end])]) ++end;
  const bool identifier_chars = end == line.size() || is_space(line[end]);
  return {line.substr(begin, token_end(line, end) - begin), identifier_chars};
}

std::string_view name_after_identifier(std::string_view line, size_t id_end) {
  const size_t i = skip_spaces(line, id_end);
  return line.substr(i, token_end(line, i) - i);
}

}  // namespace tolvane
