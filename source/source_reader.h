// Reads a message source: five directive comment lines, then #message lines.
#ifndef TOLVANE_SOURCE_SOURCE_READER_H_
#define TOLVANE_SOURCE_SOURCE_READER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "msgfile/layout.h"
#include "platform/file_io.h"
#include "source/diagnostics.h"

namespace tolvane {

struct TableParameters {
  std::string language;   // stored and compared on its first two characters
  std::string font_file;  // stored on 32 bytes
  std::string coding_name;
  uint16_t coding = kByteCoding;  // kUnicodeCoding only for exactly "UNICODE"
  uint32_t file_type = 0;
  uint32_t appli_type = 0;
};

// Receives the #message lines of a source, in source order.
class MessageHandler {
 public:
  virtual ~MessageHandler() = default;
  // Every #message line, with or without a text; `name` is the token after
  // its identifier, a piece of `line` (what message_name() finds there).
  virtual void on_name(int32_t id, std::string_view line, std::string_view name) = 0;
  // Every #message line that has a quoted text, after on_name.
  virtual void on_text(int32_t id, std::string_view text) = 0;
  // The same, in a pass with checks, which encode every text with `coding`
  // to look at it: `encoded` is what encode_text() gives. A handler that
  // encodes its texts with that coding may take these bytes instead.
  virtual void on_encoded_text(int32_t id, std::string_view text, uint16_t /*coding*/,
                               std::string_view /*encoded*/) {
    on_text(id, text);
  }
  // Where a pass with checks appends each text it encodes, instead of a
  // buffer of its own: a handler that keeps the texts anyway then finds
  // `encoded` already at the end of its own. None by default.
  virtual std::string* encoded_texts() { return nullptr; }
};

// Reads the directive lines from the start of the source. Throws Failure when
// the first line is not the LANGUAGE directive.
// With `diagnostics`, also reports there what the lines hold that is wrong
// (an error: what is built would be plainly wrong) or doubtful (a warning);
// the values read are the same either way.
void read_directives(LineReader& source, const std::string& source_path,
                     TableParameters* parameters, Diagnostics* diagnostics = nullptr);

// Reads every remaining line and hands the #message lines to `handler`.
// Throws Failure for a #message line whose identifier cannot be read.
// With `diagnostics`, reports that as an error instead, and goes on past the
// line without handing it on; it also reports what else is wrong or
// doubtful in the lines and in their texts, encoded with `coding` for that.
// Everything handed on is the same either way.
void message_pass(LineReader& source, const std::string& source_path, MessageHandler& handler,
                  Diagnostics* diagnostics = nullptr, uint16_t coding = kByteCoding);

// The text between the first and the last double quote of `line`, with the
// quotes inside it dropped unless escaped. Returns false when the line has
// no double quote.
bool extract_text(std::string_view line, std::string* text);

// Parses the identifier of a #message line the way "#message %d" scans it,
// and gives the name after it to `name` when asked. Throws an input Failure
// saying why when it cannot; the message does not say where (the caller
// knows the line).
int32_t scan_message_id(std::string_view line, std::string_view* name = nullptr);

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_SOURCE_READER_H_
