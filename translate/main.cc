// tolvane-translate: exports message sources to PO and XLIFF files, imports
// translations back into message sources, and makes pseudo-languages.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/arguments.h"
#include "platform/native_file_system.h"
#include "tolvane_version.h"
#include "translate/commands.h"
#include "translate/output_file.h"
#include "translate/translate_options.h"

namespace {

void print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvane;
  using namespace tolvane::translate;
  TranslateOptions options;
  try {
    options = parse_translate_options(program_arguments(argc, argv));
  } catch (const Failure& failure) {
    print(stderr, "tolvane-translate: " + failure.message() + "\n" + translate_usage());
    return 2;
  }
  if (options.help) {
    print(stdout, translate_usage());
    return 0;
  }
  if (options.version) {
    print(stdout, std::string("tolvane-translate ") + tolvane::kVersion + "\n");
    return 0;
  }
  try {
    NativeFileSystem fs;
    if (!options.output.empty()) {
      check_output(fs, options.output,
                   {options.reference, options.translation, options.directives});
    }
    CommandResult result;
    switch (options.command) {
      case Command::kExport:
        result = run_export(fs, options);
        break;
      case Command::kImport:
        result = run_import(fs, options);
        break;
      default:
        result = run_pseudo(fs, options);
        break;
    }
    for (const std::string& note : result.notes) print(stderr, "tolvane-translate: " + note + "\n");
    if (!result.summary.empty()) print(stderr, result.summary + "\n");
    if (options.output.empty()) {
      print(stdout, result.output);
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        print(stderr, "tolvane-translate: cannot write the output\n");
        return 1;
      }
    } else {
      write_output(fs, options.output, result.output);
    }
    return 0;
  } catch (const Failure& failure) {
    std::string text = "tolvane-translate: " + failure.message();
    if (!failure.reason().empty()) text += ": " + failure.reason();
    print(stderr, text + "\n");
    return failure.kind() == FailureKind::kUsage ? 2 : 1;
  } catch (const std::bad_alloc&) {
    print(stderr, "tolvane-translate: out of memory\n");
    return 1;
  }
}
