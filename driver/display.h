// How Tolvane's messages show the files they are about.
#ifndef TOLVANE_DRIVER_DISPLAY_H_
#define TOLVANE_DRIVER_DISPLAY_H_

#include <string>

namespace tolvane {

// A path as messages and the catalogue's name field show it: ASCII letters
// upper-cased.
std::string shown_path(std::string path);

// The line that gives the system's reason for a failure on `path`: it names
// the file as it is on disk, which the message before it may show otherwise
// (upper-cased, or as the file being made rather than the work file).
std::string reason_line(const std::string& path, const std::string& reason);

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_DISPLAY_H_
