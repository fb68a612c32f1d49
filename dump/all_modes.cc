#include "dump/all_modes.h"

#include <vector>

#include "base/failure.h"
#include "dump/command.h"

namespace tolvane::dump {

void run_all_modes(std::string_view bytes, BlockWindows windows) {
  // A names header made of the same bytes exercises the name lookup too.
  const std::string_view names = bytes;
  std::vector<DumpOptions> runs;
  for (Mode mode : {Mode::kSummary, Mode::kMessages, Mode::kCheck, Mode::kLint, Mode::kStats}) {
    for (bool json : {false, true}) {
      DumpOptions options;
      options.mode = mode;
      options.json = json;
      runs.push_back(options);
    }
  }
  // The cross-language checks with a names header and another reference.
  runs.emplace_back();
  runs.back().mode = Mode::kLint;
  runs.back().names_path = "names";
  runs.back().reference = "FR";
  try {
    // Decompile every table of every language the file has.
    const OpenCatalogue catalogue = inspect_catalogue(bytes, windows);
    for (const LanguageLayout& language : catalogue.languages) {
      for (unsigned rank = 1; rank <= language.tables_in_file; ++rank) {
        DumpOptions options;
        options.mode = Mode::kSource;
        options.source_language = std::string(language.entry.language, kLanguageWidth);
        options.source_rank = rank;
        runs.push_back(options);
      }
    }
  } catch (const Failure&) {
  }
  for (DumpOptions& options : runs) {
    options.windows = windows;
    try {
      run_dump(options, bytes, names);
    } catch (const Failure&) {
      // Refusing an input is fine; only crashes and sanitizer reports count.
    }
  }
}

}  // namespace tolvane::dump
