// The one decimal scanner of the C headers and command lines Tolvane reads:
// an optional sign, then digits, as "%d" takes them after white space.
#ifndef TOLVANE_SOURCE_DECIMAL_H_
#define TOLVANE_SOURCE_DECIMAL_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tolvane {

struct Decimal {
  bool negative = false;
  size_t digits_begin = 0;  // after the sign
  size_t end = 0;           // after the last digit; digits_begin when there is none
  // Exact unless `overflow`: numbers past 2^40 can never be an identifier, so
  // the value stops growing there while the digits are still taken.
  int64_t magnitude = 0;
  bool overflow = false;

  bool found() const { return end > digits_begin; }
  int64_t value() const { return negative ? -magnitude : magnitude; }
};

// Scans at `i` (no white space is skipped); with `sign`, a leading + or - is
// taken first.
inline Decimal scan_decimal(std::string_view text, size_t i, bool sign = true) {
  Decimal d;
  if (sign && i < text.size() && (text[i] == '+' || text[i] == '-')) d.negative = text[i++] == '-';
  d.digits_begin = i;
  // The value grows in a local: a caller that keeps `d` in memory would
  // otherwise have every digit wait for the last one to be stored.
  int64_t magnitude = 0;
  // Twelve digits stay below 10^12, short of 2^40: they need no look at
  // the limit, and most numbers end within them.
  for (const size_t quick_end = std::min(text.size(), i + 12); i < quick_end; ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
    if (digit > 9) break;
    magnitude = magnitude * 10 + digit;
  }
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude > (int64_t{1} << 40)) {
      d.overflow = true;
      continue;
    }
    magnitude = magnitude * 10 + (text[i] - '0');
  }
  d.magnitude = magnitude;
  d.end = i;
  return d;
}

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_DECIMAL_H_
