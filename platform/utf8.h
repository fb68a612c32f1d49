// UTF-8, one character at a time: the text the programs work with, in file
// names, command lines, message sources and translation files.
#ifndef TOLVANE_PLATFORM_UTF8_H_
#define TOLVANE_PLATFORM_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvane {

// Reads the character at `*i` of `utf8` into `*c` and moves `*i` past it.
// False, with `*i` unchanged, for bytes that are no well-formed UTF-8
// character: overlong forms, values past U+10FFFF and, unless
// `lone_surrogates`, the three-byte forms of surrogates.
bool next_utf8(std::string_view utf8, size_t* i, char32_t* c, bool lone_surrogates = false);
// Appends `c` in its shortest form (a surrogate value in its three-byte form).
void append_utf8(char32_t c, std::string* out);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_UTF8_H_
