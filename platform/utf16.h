// Conversion between the UTF-8 text the program works with and the UTF-16
// text of systems whose file names and command lines are wide characters.
#ifndef TOLVANE_PLATFORM_UTF16_H_
#define TOLVANE_PLATFORM_UTF16_H_

#include <string>
#include <string_view>

namespace tolvane {

// Wide text to UTF-8. A lone surrogate, which such systems allow in file
// names, is kept as the three-byte form of its value, so that every wide
// name converts back to itself.
std::string utf16_to_utf8(std::u16string_view wide);

// UTF-8 (and lone surrogates in their three-byte form) to wide text. Returns
// false for bytes that are no such text: there is then no name they could
// stand for.
bool utf8_to_utf16(std::string_view utf8, std::u16string* wide);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_UTF16_H_
