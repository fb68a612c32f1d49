// The inspector's command line and what one run of it produces.
#ifndef TOLVANE_DUMP_COMMAND_H_
#define TOLVANE_DUMP_COMMAND_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dump/render.h"

namespace tolvane::dump {

enum class Mode { kSummary, kMessages, kCheck, kSource, kLint, kStats };

struct DumpOptions {
  Mode mode = Mode::kSummary;
  bool json = false;
  bool help = false;
  bool version = false;
  Selection selection;  // --language and --table
  std::string source_language;
  unsigned source_rank = 1;
  std::string names_path;  // empty when not given
  std::string reference;   // --reference: the language compared against; empty for the default
  bool utf8 = false;       // --utf8 (or --charset): texts in UTF-8 where they decode
  std::string charset;     // --charset: a byte table's character set; empty for ASCII
  std::string msg_path;
  BlockWindows windows;  // how blocks are read; never from the command line
};

// `args` excludes the program name. Throws a usage Failure when the command
// line is wrong.
DumpOptions parse_dump_options(const std::vector<std::string>& args);

std::string dump_usage();
// "tolvane-dump <version>" and a line feed.
std::string dump_version();

struct DumpResult {
  std::string out;       // for standard output, when no Output was given
  std::string warning;   // for standard error; empty when there is nothing to say
  bool damaged = false;  // --check found problems, or --lint findings
};

// Runs the mode of `options` on the catalogue in `file`, writing what it shows
// to `out` as it goes; `names_header` is the content of the --names file, if
// any. Throws Failure when the file is no MSG file, the selection is not in
// it, the table cannot be decompiled, or --lint/--stats meet a damaged file.
DumpResult run_dump(const DumpOptions& options, std::shared_ptr<File> file,
                    std::string_view names_header, Output& out);
// The same on a catalogue held in memory, its output in DumpResult::out.
DumpResult run_dump(const DumpOptions& options, std::string_view bytes,
                    std::string_view names_header);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_COMMAND_H_
