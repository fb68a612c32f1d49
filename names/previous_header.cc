#include "names/previous_header.h"

#include <cstring>

#include "platform/file_io.h"
#include "source/message_line.h"

namespace tolvane {

std::string names_header_problem(File& previous) {
  // Binary data shows in its first bytes, before a line is looked for: a
  // catalogue may run for megabytes without a line feed.
  char head[4096];
  const size_t got = previous.read_at(0, head, sizeof head);
  const std::string_view start(head, got);
  if (start.find('\0') != std::string_view::npos) {
    // The FILE ID 0x4D53, low byte first.
    return start.substr(0, 2) == "SM" ? "it is an MSG file" : "it is not text";
  }
  LineReader lines(&previous, false);
  std::string_view line;
  bool in_comment = false;  // inside a /* */ comment
  while (lines.read_line(&line)) {
    if (line.find('\0') != std::string_view::npos) {
      return "it is not text (line " + std::to_string(lines.line_number()) + ")";
    }
    if (!in_comment && std::memchr(line.data(), '/', line.size()) == nullptr) {
      // No comment opens or closes: the first non-space decides, as below.
      const size_t first = skip_spaces(line, 0);
      if (first == line.size() || line[first] == '#') continue;
      return "line " + std::to_string(lines.line_number()) +
             " is neither a preprocessor line (#define ...), a comment nor blank";
    }
    // Comments may open and close anywhere along the line; whatever is
    // outside them must be a preprocessor line (#define, or an include guard
    // a person added) or nothing.
    bool code_seen = false, directive = false;
    for (size_t i = 0; i < line.size();) {
      if (in_comment) {
        const size_t end = line.find("*/", i);
        if (end == std::string_view::npos) break;
        in_comment = false;
        i = end + 2;
      } else if (line.substr(i, 2) == "//") {
        break;
      } else if (line.substr(i, 2) == "/*") {
        in_comment = true;
        i += 2;
      } else if (is_space(line[i]) || code_seen) {
        ++i;
      } else {
        code_seen = true;
        // A person may keep the header in an include guard or under other
        // preprocessor lines; a run never reads them as definitions.
        directive = line[i] == '#';
        if (!directive) break;
        ++i;
      }
    }
    if (code_seen && !directive) {
      return "line " + std::to_string(lines.line_number()) +
             " is neither a preprocessor line (#define ...), a comment nor blank";
    }
  }
  return "";
}

}  // namespace tolvane
