// PO files, read and written by gettext's own library (libgettextpo).
#ifndef TOLVANE_TRANSLATE_PO_FILE_H_
#define TOLVANE_TRANSLATE_PO_FILE_H_

#include <string>

#include "translate/translation_file.h"

namespace tolvane::translate {

// The PO file (a template when `file.target_language` is empty), UTF-8.
// Throws a Failure when the library refuses it.
std::string write_po(const TranslationFile& file);

// Reads the PO file at `path`, its texts converted to UTF-8 from the
// character set its header names. Throws an input Failure "PATH:LINE: ..."
// for a malformed file.
TranslationFile read_po(const std::string& path);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_PO_FILE_H_
