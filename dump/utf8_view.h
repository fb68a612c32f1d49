// Texts shown for people: in UTF-8 rather than escapes, when they decode. A
// byte table's texts are read in the character set its font uses (which the
// catalogue does not record), a UNICODE table's as UTF-16, high byte first.
#ifndef TOLVANE_DUMP_UTF8_VIEW_H_
#define TOLVANE_DUMP_UTF8_VIEW_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/charset.h"

namespace tolvane::dump {

class Utf8View {
 public:
  // Texts longer than this are shown escaped: they are read in windows, and
  // decoding one would hold it whole.
  static constexpr size_t kMaxDecoded = 1 << 20;

  // `charset` as iconv names it; empty for ASCII. Throws a usage Failure for
  // a name the system does not know.
  explicit Utf8View(const std::string& charset) : charset_(charset) {}

  // The text in UTF-8, or nothing when it is no text of its table's
  // characters.
  std::optional<std::string> utf8(std::string_view bytes, bool unicode) const;

 private:
  Charset charset_;
};

// A UTF-8 text on one line between double quotes: `"`, `\` and the control
// characters as C escapes, every other character as it is.
std::string quoted_utf8(std::string_view utf8);

// A UTF-8 text as JSON string characters in plain ASCII: \uXXXX (surrogate
// pairs beyond U+FFFF) for everything that is not printable ASCII.
std::string json_utf8(std::string_view utf8);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_UTF8_VIEW_H_
