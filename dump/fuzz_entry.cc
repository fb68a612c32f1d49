// Every mode of the inspector on one in-memory file, for fuzzing.
#include <new>

#include "dump/command.h"
#include "dump/model.h"
#include "platform/failure.h"

namespace tolvane::dump {

int dump_fuzz_one(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
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
    const CatalogueView catalogue = inspect_catalogue(bytes);
    for (const LanguageView& language : catalogue.languages) {
      for (unsigned rank = 1; rank <= language.tables.size(); ++rank) {
        DumpOptions options;
        options.mode = Mode::kSource;
        options.source_language = std::string(language.entry.language, kLanguageWidth);
        options.source_rank = rank;
        runs.push_back(options);
      }
    }
  } catch (const Failure&) {
  }
  for (const DumpOptions& options : runs) {
    try {
      run_dump(options, bytes, names);
    } catch (const Failure&) {
      // Refusing an input is fine; only crashes and sanitizer reports count.
    }
  }
  return 0;
}

}  // namespace tolvane::dump
