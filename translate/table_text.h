// A table's texts as characters: byte tables in the character set of their
// font (plain ASCII when none is named), UNICODE tables in UTF-16.
#ifndef TOLVANE_TRANSLATE_TABLE_TEXT_H_
#define TOLVANE_TRANSLATE_TABLE_TEXT_H_

#include <string>
#include <string_view>

#include "platform/charset.h"

namespace tolvane::translate {

class TableText {
 public:
  // `charset` is only used for byte tables and must outlive this.
  TableText(bool unicode, const Charset& charset) : unicode_(unicode), charset_(charset) {}

  bool unicode() const { return unicode_; }

  // Stored bytes to UTF-8. False, with `*why` saying what is wrong, when
  // they are no text of the table's characters.
  bool to_utf8(std::string_view bytes, std::string* utf8, std::string* why) const;
  // UTF-8 to stored bytes. False, with `*why` naming the character, when
  // the table cannot hold one (or a 0x00 byte would end the text early).
  bool from_utf8(std::string_view utf8, std::string* bytes, std::string* why) const;

  // What goes between the quotes of a #message line to store `bytes`: C
  // escapes in plain ASCII for byte tables, \xHH notations for UNICODE.
  std::string literal(std::string_view bytes) const;

 private:
  bool unicode_;
  const Charset& charset_;
};

// A UTF-8 text on one line, for a comment: line feeds, tabs and the other
// control characters as C escapes, everything else as it is.
std::string readable_line(std::string_view utf8);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_TABLE_TEXT_H_
