// What the source reader finds wrong or doubtful in a message source's lines,
// reported to a Diagnostics as it reads. Reading never depends on it: the
// reader hands on the same values with or without these checks.
#ifndef TOLVANE_SOURCE_SOURCE_CHECKS_H_
#define TOLVANE_SOURCE_SOURCE_CHECKS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "source/decimal.h"
#include "source/diagnostics.h"
#include "source/message_line.h"
#include "source/name_index.h"
#include "source/text_encoder.h"

namespace tolvane {

struct TableParameters;

// The directive lines, in their order; the first is LANGUAGE.
inline constexpr std::string_view kDirectiveKeywords[] = {
    "// #LANGUAGE", "// #FONFILE", "// #MSGCODING", "// #FILETYPE", "// #APPLITYPE"};
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class SourceChecks {
 public:
  SourceChecks(std::string_view path, Diagnostics& diagnostics);
  ~SourceChecks();
  SourceChecks(const SourceChecks&) = delete;
  SourceChecks& operator=(const SourceChecks&) = delete;

  // Where each stored identifier was first given, and every name.
  struct Tables {
    std::vector<uint64_t> id_seen = std::vector<uint64_t>(65536 / 64);
    std::vector<std::pair<uint32_t, uint32_t>> id_log;  // identifier, line
    std::vector<uint32_t> id_lines;                     // by identifier, once built
    bool id_lines_built = false;
    NameIndex names;
  };

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
  // A #message line whose identifier the reader scanned as `id`, and whose
  // name is `name` (in `line`, as message_name_of() gives it). Returns
  // false when the identifier cannot be handed on at all.
  bool message(std::string_view line, long number, const Decimal& id, const MessageName& name);
  // The text of a #message line, extracted; `open` and `close` are where
  // its first and last double quotes are in the line, and `dropped_quote`
  // where the first quote between them with no backslash before it is
  // (npos for none). Returns the text encoded with `coding`, as encode_text() gives
  // it, valid until the next call, appended to `into` when given (and
  // nothing appended when it throws); throws what it throws.
  std::string_view text(long number, size_t open, size_t close, size_t dropped_quote,
                        std::string_view text, uint16_t coding, std::string* into = nullptr);

 private:
  void error(long number, size_t column, std::string text);
  void warning(long number, size_t column, std::string text);

  std::string path_;
  Diagnostics& diagnostics_;
  bool binary_reported_ = false;
  long type_lines_[2] = {0, 0};  // where FILETYPE and APPLITYPE were read
  // Taken from earlier checks, and handed back empty (see the .cc).
  std::unique_ptr<Tables> tables_;
  std::string encoded_;
  std::vector<TextFinding> findings_;
};

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_SOURCE_CHECKS_H_
