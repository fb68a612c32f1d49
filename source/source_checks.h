// What the source reader finds wrong or doubtful in a message source's lines,
// reported to a Diagnostics as it reads. Reading never depends on it: the
// reader hands on the same values with or without these checks.
#ifndef TOLVANE_SOURCE_SOURCE_CHECKS_H_
#define TOLVANE_SOURCE_SOURCE_CHECKS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "source/decimal.h"
#include "source/diagnostics.h"
#include "source/name_index.h"

namespace tolvane {

struct TableParameters;

// The directive lines, in their order; the first is LANGUAGE.
inline constexpr std::string_view kDirectiveKeywords[] = {
    "// #LANGUAGE", "// #FONFILE", "// #MSGCODING", "// #FILETYPE", "// #APPLITYPE"};
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class SourceChecks {
 public:
  SourceChecks(std::string_view path, Diagnostics& diagnostics)
      : path_(path), diagnostics_(diagnostics) {}

  // Any line: bytes that no text holds (reported once per source).
  void bytes(std::string_view line, long number);

  // Directive lines.
  void empty_source();
  void byte_order_mark();
  void language(std::string_view line, const std::string& value);
  void font_file(std::string_view line, const std::string& value, long number);
  void coding(std::string_view line, const std::string& value, long number);
  // A FILETYPE (`directive` 3) or APPLITYPE (4) line; `found` tells whether
  // it held a number.
  void type(int directive, std::string_view line, bool found, long number);
  // The directive `directive` (1 to 4) was expected at line `number`, which
  // is `line`, or the end of the source when `line` is null.
  void directive_missing(int directive, const std::string* line, long number);
  // After the directives: what the types make of the table's type_key.
  void directives_done(const TableParameters& parameters);

  // Message lines. A line that does not begin with #message.
  void other_line(std::string_view line, long number);
  // A #message line whose identifier the reader scanned as `id`. Returns
  // false when the identifier cannot be handed on at all.
  bool message(std::string_view line, long number, const Decimal& id);
  // The text of a #message line, extracted and encoded with `coding`.
  void text(std::string_view line, long number, std::string_view text, uint16_t coding);

 private:
  void error(long number, size_t column, std::string text);
  void warning(long number, size_t column, std::string text);

  std::string path_;
  Diagnostics& diagnostics_;
  bool binary_reported_ = false;
  long type_lines_[2] = {0, 0};  // where FILETYPE and APPLITYPE were read
  // Where each stored identifier was first given, and every name.
  std::vector<uint32_t> id_lines_;
  NameIndex names_;
  std::string scratch_;
};

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_SOURCE_CHECKS_H_
