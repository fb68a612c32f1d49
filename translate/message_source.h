// A message source read for translation: its directive lines and values, and
// every #message line with its name, its stored bytes (encoded by the same
// reader and encoders as a build) and the comment block above it.
#ifndef TOLVANE_TRANSLATE_MESSAGE_SOURCE_H_
#define TOLVANE_TRANSLATE_MESSAGE_SOURCE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "source/source_reader.h"

namespace tolvane::translate {

struct SourceMessage {
  int32_t id = 0;
  std::string name;
  bool has_text = false;  // a line without a quoted text adds no message to the table
  std::string bytes;      // as stored, the terminator left out
  long line = 0;
  // The // lines right above the #message line, without the // and one blank.
  std::vector<std::string> comments;
};

struct MessageSource {
  std::string path;
  TableParameters parameters;
  std::vector<std::string> directive_lines;  // as written, without line feeds
  std::vector<SourceMessage> messages;       // every #message line, in source order

  bool unicode() const { return parameters.coding == kUnicodeCoding; }
};

// Throws an input Failure naming the file (and line) when it cannot be read
// or a build would refuse it.
MessageSource read_message_source(FileSystem& fs, const std::string& path);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_MESSAGE_SOURCE_H_
