#include "msgfile/printf_format.h"

#include <algorithm>
#include <type_traits>

namespace tolvane {
namespace {

// A byte or 16-bit text, read a character at a time as an unsigned value.
template <typename Unit>
class Units {
 public:
  Units(const Unit* data, size_t size) : data_(data), size_(size) {}
  size_t size() const { return size_; }
  bool is(size_t i, char c) const { return i < size_ && value(i) == static_cast<unsigned char>(c); }
  bool is_digit(size_t i) const { return i < size_ && value(i) >= '0' && value(i) <= '9'; }
  uint32_t value(size_t i) const { return static_cast<std::make_unsigned_t<Unit>>(data_[i]); }

 private:
  const Unit* data_;
  size_t size_;
};

// Reads decimal digits at `i`; returns the value (capped) and moves `i` past
// them, or nothing when there is no digit.
template <typename Unit>
std::optional<uint32_t> digits(const Units<Unit>& text, size_t* i) {
  if (!text.is_digit(*i)) return std::nullopt;
  uint32_t value = 0;
  for (; text.is_digit(*i); ++*i) {
    value = std::min<uint32_t>(value * 10 + (text.value(*i) - '0'), 1000000);
  }
  return value;
}

// An argument position written "n$" at `i` (n from 1), or nothing (and `i`
// kept).
template <typename Unit>
std::optional<uint32_t> position(const Units<Unit>& text, size_t* i) {
  size_t j = *i;
  std::optional<uint32_t> n = digits(text, &j);
  if (!n || *n == 0 || !text.is(j, '$')) return std::nullopt;
  *i = j + 1;
  return n;
}

// A width or precision: digits, or "*" with an optional position.
template <typename Unit>
PrintfAmount amount(const Units<Unit>& text, size_t* i) {
  PrintfAmount result;
  if (text.is(*i, '*')) {
    ++*i;
    result.from_argument = true;
    result.position = position(text, i);
  } else {
    digits(text, i);
  }
  return result;
}

bool is_flag(uint32_t c) {
  return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'';
}

// Moves `i` past a length modifier, if one is there.
template <typename Unit>
void skip_length(const Units<Unit>& text, size_t* i) {
  if ((text.is(*i, 'h') || text.is(*i, 'l')) &&
      text.is(*i + 1, static_cast<char>(text.value(*i)))) {
    *i += 2;
    return;
  }
  for (char c : {'h', 'l', 'L', 'q', 'j', 'z', 't'}) {
    if (text.is(*i, c)) {
      ++*i;
      return;
    }
  }
}

bool is_conversion(uint32_t c) {
  for (char known : std::string_view("diouxXeEfFgGaAcspn")) {
    if (c == static_cast<unsigned char>(known)) return true;
  }
  return false;
}

template <typename Unit>
PrintfConversion read_conversion(const Units<Unit>& text, size_t at) {
  PrintfConversion conversion;
  conversion.begin = at;
  size_t i = at + 1;
  if (text.is(i, '%')) {
    conversion.kind = PrintfConversion::Kind::kPercent;
    conversion.end = i + 1;
    return conversion;
  }
  conversion.position = position(text, &i);
  while (i < text.size() && is_flag(text.value(i))) ++i;
  conversion.width = amount(text, &i);
  if (text.is(i, '.')) {
    ++i;
    conversion.precision = amount(text, &i);
  }
  conversion.length_begin = i;
  skip_length(text, &i);
  conversion.length_end = i;
  if (i >= text.size() || !is_conversion(text.value(i))) {
    conversion.kind = PrintfConversion::Kind::kUnknown;
    conversion.end = std::min(i + 1, text.size());
    return conversion;
  }
  conversion.conversion = static_cast<char>(text.value(i));
  conversion.end = i + 1;
  return conversion;
}

}  // namespace

PrintfConversion read_printf_conversion(std::string_view text, size_t at) {
  return read_conversion(Units<char>(text.data(), text.size()), at);
}

PrintfConversion read_printf_conversion(std::span<const uint16_t> text, size_t at) {
  return read_conversion(Units<uint16_t>(text.data(), text.size()), at);
}

bool printf_conversions(std::string_view text, std::vector<PrintfConversion>* conversions) {
  conversions->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    PrintfConversion conversion = read_printf_conversion(text, i);
    if (conversion.kind == PrintfConversion::Kind::kUnknown) return false;
    conversions->push_back(conversion);
    i = conversion.end - 1;
  }
  return true;
}

bool is_c_format(std::string_view text) {
  std::vector<PrintfConversion> conversions;
  if (!printf_conversions(text, &conversions)) return false;
  for (const PrintfConversion& conversion : conversions) {
    if (conversion.takes_argument()) return true;
  }
  return false;
}

}  // namespace tolvane
