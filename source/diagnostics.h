// What a message source's reading finds wrong or doubtful, with where it is.
// The readers report here and go on; only a program decides what a finding
// does to the run and prints it.
#ifndef TOLVANE_SOURCE_DIAGNOSTICS_H_
#define TOLVANE_SOURCE_DIAGNOSTICS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

enum class Severity {
  kWarning,  // the output is what it always was, but likely not what was meant
  kError,    // the output would be plainly wrong: the run must not write it
};

struct Diagnostic {
  std::string path;  // the source as given on the command line
  long line = 0;     // from 1
  long column = 0;   // from 1; 0 when the whole line is meant
  Severity severity = Severity::kWarning;
  std::string text;  // no heading, no line feed
};

// Collects the findings of one run, over any number of sources.
class Diagnostics {
 public:
  void report(Diagnostic diagnostic);
  void error(std::string_view path, long line, long column, std::string text) {
    report({std::string(path), line, column, Severity::kError, std::move(text)});
  }
  void warning(std::string_view path, long line, long column, std::string text) {
    report({std::string(path), line, column, Severity::kWarning, std::move(text)});
  }
  const std::vector<Diagnostic>& all() const { return all_; }
  size_t errors() const { return errors_; }
  size_t warnings() const { return all_.size() - errors_; }

 private:
  std::vector<Diagnostic> all_;
  size_t errors_ = 0;
};

// "fr.h:7:12: error: text\n", in the form editors and CI annotators read:
// one line of plain ASCII, whatever bytes the path or text hold.
std::string format_diagnostic(const Diagnostic& diagnostic);

// A piece of a source quoted in a diagnostic: printable ASCII as it is,
// anything else as \xHH, cut after `limit` bytes with "...".
std::string quoted(std::string_view piece, size_t limit = 40);

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_DIAGNOSTICS_H_
