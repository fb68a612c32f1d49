// The list file of -l: one message source per line, in the order the tables
// are added.
#ifndef TOLVANE_DRIVER_SOURCE_LIST_H_
#define TOLVANE_DRIVER_SOURCE_LIST_H_

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tolvane {

// The sources the list at `list_path` names. Blank lines and lines starting
// with '#' are skipped, blanks around a name dropped; a relative name is
// taken from the list file's folder. Throws a usage Failure when the list
// cannot be read or names no source.
std::vector<std::string> read_source_list(FileSystem& fs, const std::string& list_path);

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_SOURCE_LIST_H_
