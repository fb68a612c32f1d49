// tolvane-translate's command line.
#ifndef TOLVANE_TRANSLATE_TRANSLATE_OPTIONS_H_
#define TOLVANE_TRANSLATE_TRANSLATE_OPTIONS_H_

#include <string>
#include <vector>

#include "translate/translation_file.h"

namespace tolvane::translate {

enum class Command { kNone, kExport, kImport, kPseudo };

struct TranslateOptions {
  Command command = Command::kNone;
  bool help = false;
  bool version = false;
  Format format = Format::kPo;
  std::string charset;  // empty: byte texts are ASCII
  std::string reference_charset;
  bool reference_charset_given = false;
  std::string reference;    // the reference source
  std::string translation;  // export: --translation; import: the PO or XLIFF file
  std::string output;       // empty: standard output
  bool fuzzy = false;
  // import: the directive lines, from a source or from the five options
  std::string directives;
  std::string language, font, coding, file_type, application_type;
  // pseudo
  std::string pseudo_language = "XA";
  unsigned expand = 35;

  const std::string& reference_charset_name() const {
    return reference_charset_given ? reference_charset : charset;
  }
};

// `args` excludes the program name. Throws a usage Failure when the command
// line is wrong.
TranslateOptions parse_translate_options(const std::vector<std::string>& args);

std::string translate_usage();

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_TRANSLATE_OPTIONS_H_
