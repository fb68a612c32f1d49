// XLIFF 1.2 files: written as text, read with expat.
#ifndef TOLVANE_TRANSLATE_XLIFF_FILE_H_
#define TOLVANE_TRANSLATE_XLIFF_FILE_H_

#include <string>
#include <string_view>

#include "translate/translation_file.h"

namespace tolvane::translate {

// Whether XML 1.0 can hold `utf8`: no control characters but tab, line feed
// and carriage return, no U+FFFE or U+FFFF.
bool xml_can_hold(std::string_view utf8);

// One <file> of `original`; a template (no targets) when
// `file.target_language` is empty.
std::string write_xliff(const TranslationFile& file, const std::string& original);

// Reads every <trans-unit> of `bytes` (the content of `path`). Throws an
// input Failure "PATH:LINE: ..." for what is no XLIFF.
TranslationFile read_xliff(std::string_view bytes, const std::string& path);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_XLIFF_FILE_H_
