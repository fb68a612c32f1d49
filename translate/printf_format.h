// The conversions of a C printf format, found so that a translation file can
// mark the texts that are formats and pseudo-localization can leave them be.
#ifndef TOLVANE_TRANSLATE_PRINTF_FORMAT_H_
#define TOLVANE_TRANSLATE_PRINTF_FORMAT_H_

#include <cstddef>
#include <string_view>
#include <vector>

namespace tolvane::translate {

struct Conversion {
  size_t begin = 0;            // at the %
  size_t end = 0;              // after the conversion character
  bool takes_argument = true;  // false for %%
};

// Fills `conversions` with every conversion of `text` in order. False when a
// % starts no conversion printf knows (then `text` is no format).
bool printf_conversions(std::string_view text, std::vector<Conversion>* conversions);

// Whether `text` is a valid format with at least one conversion that takes an
// argument: what a translation file marks as c-format.
bool is_c_format(std::string_view text);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_PRINTF_FORMAT_H_
