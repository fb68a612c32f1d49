// The conversions of a C printf format, read as printf reads them. One
// reader serves the inspector, which compares what the texts of two
// translations take, and the translation files, which mark the texts that
// are formats and leave their conversions be.
#ifndef TOLVANE_MSGFILE_PRINTF_FORMAT_H_
#define TOLVANE_MSGFILE_PRINTF_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tolvane {

// A width or precision: written out, or "*" / "*n$", read from an argument.
struct PrintfAmount {
  bool from_argument = false;
  std::optional<uint32_t> position;  // the n of "*n$"
};

struct PrintfConversion {
  enum class Kind {
    kPercent,  // %%: takes nothing
    kKnown,    // a conversion printf knows
    kUnknown,  // a % that starts no conversion printf knows
  };
  Kind kind = Kind::kKnown;
  size_t begin = 0;  // at the %
  // After the conversion character; for an unknown one, after the character
  // printf does not know (or at the end of the text).
  size_t end = 0;
  // The n of "%n$...": the argument the conversion takes, counted from 1;
  // without it, the next one. Values are capped at 1,000,000.
  std::optional<uint32_t> position;
  PrintfAmount width;
  PrintfAmount precision;
  size_t length_begin = 0;  // the length modifier ("l", "hh", "z", ...) is
  size_t length_end = 0;    // [length_begin, length_end)
  char conversion = 0;      // 'd', 's', ...: when kKnown

  bool takes_argument() const { return kind != Kind::kPercent; }
};

// Reads the conversion that starts at the % at `at` of `text`, a byte text
// or one of 16-bit characters (as a UNICODE table holds them). Flags are
// skipped; a character above 0x7F is never part of a conversion.
PrintfConversion read_printf_conversion(std::string_view text, size_t at);
PrintfConversion read_printf_conversion(std::span<const uint16_t> text, size_t at);

// Fills `conversions` with every conversion of `text` in order. False when a
// % starts no conversion printf knows (then `text` is no format, and
// `conversions` holds those before it).
bool printf_conversions(std::string_view text, std::vector<PrintfConversion>* conversions);

// Whether `text` is a valid format with at least one conversion that takes an
// argument: what a translation file marks as c-format.
bool is_c_format(std::string_view text);

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_PRINTF_FORMAT_H_
