// The texts of UNICODE tables as characters: UTF-16 code units, high byte
// first, with characters beyond U+FFFF as surrogate pairs; and the strict
// UTF-8 that people and translation files use for them.
#ifndef TOLVANE_SOURCE_UNICODE_TEXT_H_
#define TOLVANE_SOURCE_UNICODE_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/utf8.h"

namespace tolvane {

// "U+00E9"; with at least four digits.
std::string code_point_name(char32_t c);

// UTF-16 bytes, high byte first, to UTF-8. False, with `*bad` at the byte
// offset where it stops, for an odd byte at the end or a lone surrogate.
bool utf16be_to_utf8(std::string_view bytes, std::string* utf8, size_t* bad);

// UTF-8 to UTF-16 bytes, high byte first. False, with `*bad` at the byte
// offset where it stops, for bytes that are not UTF-8.
bool utf8_to_utf16be(std::string_view utf8, std::string* bytes, size_t* bad);

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_UNICODE_TEXT_H_
