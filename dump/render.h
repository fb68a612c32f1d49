// What the inspector shows: a summary of the catalogue, the messages of its
// tables, the problems a check found, as plain text or as one JSON document.
#ifndef TOLVANE_DUMP_RENDER_H_
#define TOLVANE_DUMP_RENDER_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dump/check.h"
#include "dump/model.h"
#include "dump/utf8_view.h"

namespace tolvane::dump {

// Where output goes: kept in a string, or written to a stream in large pieces
// as it is produced, so that showing a large catalogue never holds all of it.
class Output {
 public:
  Output() = default;
  explicit Output(std::FILE* stream) : stream_(stream) {}
  Output& operator<<(std::string_view text) {
    text_.append(text);
    if (stream_ != nullptr && text_.size() >= (1 << 16)) flush();
    return *this;
  }
  Output& operator+=(std::string_view text) { return *this << text; }
  // Writes what is held to the stream; false once a write has failed.
  bool flush();
  // Drops what is held and not yet written: a JSON document cut short by a
  // failure is replaced by the failure's own.
  void discard() { text_.clear(); }
  // Whether anything has reached the stream.
  bool started() const { return started_; }
  // Everything produced (only without a stream).
  std::string take() { return std::move(text_); }

 private:
  std::FILE* stream_ = nullptr;
  std::string text_;
  bool failed_ = false;
  bool started_ = false;
};

// Which tables to show: those of one language or of all, and one rank within
// each language or all (rank 0).
struct Selection {
  bool all_languages = true;
  std::string language;
  unsigned rank = 0;
};

// The languages shown, in directory order, each with the tables of it shown.
struct LanguageTables {
  size_t language = 0;         // index into catalogue.languages
  std::vector<size_t> tables;  // indexes into catalogue.tables, in file order
};
using Shown = std::vector<LanguageTables>;

// Throws Failure when the selection names a language or table the file does
// not have. Every language is shown unless a language or rank is selected.
Shown select_tables(const OpenCatalogue& catalogue, const Selection& selection);

// "UNICODE" for coding 0, "byte" otherwise.
std::string coding_name(uint16_t coding);

// A message text as shown: C escapes for byte texts, \xHH for UNICODE texts.
std::string shown_text(const TableLayout& table, std::string_view text);

void render_summary(const OpenCatalogue& catalogue, const Shown& shown, Output& out);
// One table at a time: no more than one block is held at once. With `view`,
// the texts that decode are shown in UTF-8.
void render_messages(const OpenCatalogue& catalogue, const Shown& shown, Output& out,
                     const Utf8View* view = nullptr);
void render_problems(const std::vector<Problem>& problems, Output& out);

// The summary as JSON; with the messages of each table when `messages`, and
// with the problems when `problems` is given. With `view`, each message that
// decodes also has its text in UTF-8.
void render_json(const OpenCatalogue& catalogue, const Shown& shown, bool messages,
                 const std::vector<Problem>* problems, Output& out, const Utf8View* view = nullptr);

// The same, as strings.
std::string render_summary(const OpenCatalogue& catalogue, const Shown& shown);
std::string render_messages(const OpenCatalogue& catalogue, const Shown& shown);
std::string render_problems(const std::vector<Problem>& problems);
std::string render_json(const OpenCatalogue& catalogue, const Shown& shown, bool messages,
                        const std::vector<Problem>* problems);

// Strings in JSON are ASCII: the escaped notations, then JSON's own escapes.
std::string json_string(std::string_view text);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_RENDER_H_
