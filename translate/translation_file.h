// What a translation file (PO or XLIFF) holds for us, whichever its format:
// one entry per message, keyed by the message's symbolic name.
#ifndef TOLVANE_TRANSLATE_TRANSLATION_FILE_H_
#define TOLVANE_TRANSLATE_TRANSLATION_FILE_H_

#include <string>
#include <vector>

namespace tolvane::translate {

struct TranslationEntry {
  std::string name;    // PO msgctxt, XLIFF resname
  std::string source;  // the reference text, UTF-8
  std::string target;  // the translation, UTF-8; empty when untranslated
  bool fuzzy = false;
  bool plural = false;  // a PO entry with plural forms (never written)
  bool c_format = false;
  std::vector<std::string> notes;  // the comment lines above the reference's #message line
  std::string location;            // the reference file's name
  long location_line = 0;          // and the #message line's number there
  long line = 0;                   // where the entry starts in the file read; 0 when unknown
};

struct TranslationFile {
  std::string source_language;  // "en"
  std::string target_language;  // "fr"; empty for a template
  std::string project;          // names the catalogue in the header
  std::string creation_date;    // empty unless SOURCE_DATE_EPOCH gives one
  std::vector<TranslationEntry> entries;
};

enum class Format { kPo, kXliff };

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_TRANSLATION_FILE_H_
