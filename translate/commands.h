// The three commands of tolvane-translate. Each returns the bytes of the file
// it makes and the notes for standard error; it throws a Failure when it
// cannot make that file.
#ifndef TOLVANE_TRANSLATE_COMMANDS_H_
#define TOLVANE_TRANSLATE_COMMANDS_H_

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "translate/translate_options.h"

namespace tolvane::translate {

struct CommandResult {
  std::string output;
  std::vector<std::string> notes;  // one line each, without line feed
  std::string summary;             // the last line for standard error, as it is; may be empty
};

CommandResult run_export(FileSystem& fs, const TranslateOptions& options);
CommandResult run_import(FileSystem& fs, const TranslateOptions& options);
CommandResult run_pseudo(FileSystem& fs, const TranslateOptions& options);

// "file.po" of "dir/file.po".
std::string base_name(const std::string& path);

// The line of a message source that stores `bytes` under `id` and `name`,
// after a comment with the text in UTF-8 when it is not plain ASCII.
std::string message_lines(int32_t id, const std::string& name, const std::string& literal,
                          const std::string& utf8, bool show_utf8);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_COMMANDS_H_
