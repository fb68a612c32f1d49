// The inspector's command line and what one run of it produces.
#ifndef TOLVANE_DUMP_COMMAND_H_
#define TOLVANE_DUMP_COMMAND_H_

#include <string>
#include <string_view>
#include <vector>

#include "dump/render.h"

namespace tolvane::dump {

enum class Mode { kSummary, kMessages, kCheck, kSource };

struct DumpOptions {
  Mode mode = Mode::kSummary;
  bool json = false;
  bool help = false;
  Selection selection;  // --language and --table
  std::string source_language;
  unsigned source_rank = 1;
  std::string names_path;  // empty when not given
  std::string msg_path;
};

// `args` excludes the program name. Throws a usage Failure when the command
// line is wrong.
DumpOptions parse_dump_options(const std::vector<std::string>& args);

std::string dump_usage();

struct DumpResult {
  std::string out;       // for standard output
  std::string warning;   // for standard error; empty when there is nothing to say
  bool damaged = false;  // --check found problems
};

// Runs the mode of `options` on a catalogue held in memory; `names_header` is
// the content of the --names file, if any. Throws Failure when the file is no
// MSG file, the selection is not in it, or the table cannot be decompiled.
DumpResult run_dump(const DumpOptions& options, std::string_view bytes,
                    std::string_view names_header);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_COMMAND_H_
