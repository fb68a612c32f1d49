// The whole run of the tool: banner, checks, build, messages and exit code.
#ifndef TOLVANE_DRIVER_RUN_H_
#define TOLVANE_DRIVER_RUN_H_

#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace tolvane {

// `args` excludes the program name. Returns the process's exit code.
int run_tolvane(const std::vector<std::string>& args, FileSystem& fs, Console& console);

// The text a failure shows, line feeds included (the note and usage text
// that may follow it excluded).
std::string failure_text(const Failure& failure);

// The line that gives the system's reason for a failure on `path`: it names
// the file as it is on disk, which the message before it may show otherwise
// (upper-cased, or as the file being made rather than the work file).
std::string reason_line(const std::string& path, const std::string& reason);

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_RUN_H_
