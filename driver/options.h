// The command line: Tolvane [-c] [-b] [-W] -t<source> -h<names header> <file>.MSG,
// or with -l<list file> every source of the list, and -r to replace tables.
#ifndef TOLVANE_DRIVER_OPTIONS_H_
#define TOLVANE_DRIVER_OPTIONS_H_

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tolvane {

struct BuildOptions {
  bool create = false;
  std::string source_path;  // -t, or the list's first source
  std::string list_path;    // -l
  bool replace = false;     // -r: each source replaces its language's table of its type
  // Every source, in the order its table is added: -t's, or the list's.
  std::vector<std::string> sources;
  std::string names_path;
  std::string msg_path;              // as typed: the file that is read and written
  std::string msg_shown;             // upper-cased: what messages and the header show
  bool warnings_are_errors = false;  // -W: a warning stops the run
};

// Reads and checks the command line (`args` without the program name),
// opening the source given with -t to test it. Throws a usage Failure for
// the first problem found.
BuildOptions parse_command_line(const std::vector<std::string>& args, FileSystem& fs);

// Whether the command line asks never to wait for a key (-b): looked at
// before it is read, so that a command line refused half-way never waits in
// a build either.
bool wants_batch(const std::vector<std::string>& args);

// The usage text, one line each.
const std::string& usage_text();

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_OPTIONS_H_
