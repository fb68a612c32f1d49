// Writes a made file whole or not at all: a temporary file beside it,
// renamed over it once complete and on disk.
#ifndef TOLVANE_TRANSLATE_OUTPUT_FILE_H_
#define TOLVANE_TRANSLATE_OUTPUT_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace tolvane::translate {

// Refuses, before anything is written, an output that is one of `inputs`
// (however the path is spelled). Throws a Failure; the previous file at
// `path`, if any, is then untouched and no temporary file is left.
void check_output(FileSystem& fs, const std::string& path, const std::vector<std::string>& inputs);
void write_output(FileSystem& fs, const std::string& path, std::string_view bytes);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_OUTPUT_FILE_H_
