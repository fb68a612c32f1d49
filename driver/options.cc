#include "driver/options.h"

#include <algorithm>

#include "base/failure.h"
#include "driver/source_list.h"
#include "msgfile/work_files.h"

namespace tolvane {

const std::string& usage_text() {
  static const std::string text =
      "Tolvane : build a MSG file for Kestrin from .h file\n"
      "Tolvane.exe [options below] file.MSG\n"
      "-c\tCreate a new MSG file (erase if exists)\n"
      "-t\tSpecify the name of the h file that contains messages\n"
      "-h\tSpecify the name of h file that will be generated\n"
      "example: Tolvane -c -tMyEnglishMessages.h -hMyMessagesNames.h MyAppli.MSG\n"
      "         Tolvane -tMyFrenchMessages.h -hMyMessagesNames.h MyAppli.MSG\n"
      "generates MyAppli.MSG and MyMessagesNames.h files\n"
      "-l\tSpecify a file listing the h files, one a line, to build in one run\n"
      "-r\tReplace the table of the same language and type instead of adding one\n"
      "example: Tolvane -c -lAllLanguages.txt -hMyMessagesNames.h MyAppli.MSG\n"
      "         Tolvane -r -tMyFrenchMessages.h -hMyMessagesNames.h MyAppli.MSG\n";
  return text;
}

bool wants_batch(const std::vector<std::string>& args) {
  // A list of sources is what a build hands over: such a run is never a
  // person's at a terminal, so it never waits either.
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& arg) { return arg == "-b" || arg.rfind("-l", 0) == 0; });
}

namespace {

// What -t checks, for each source of a list too.
void check_source(FileSystem& fs, const std::string& value) {
  if (value.find(".h") == std::string::npos) {
    // `-t en.h` leaves -t empty and en.h a stray argument.
    throw usage_failure(value + " is not a h file:" +
                        (value.empty() ? "\nthe file name must follow -t with no "
                                         "blank, as in -tMyEnglishMessages.h"
                                       : ""));
  }
  // Never opened when it is no regular file: a FIFO would hang.
  if (FileKind kind = fs.kind(value);
      kind != FileKind::kRegular && kind != FileKind::kMissing && kind != FileKind::kNoDirectory) {
    throw usage_failure(value + " is no regular file");
  }
  try {
    fs.open(value, OpenMode::kRead)->close();
  } catch (const IoError&) {
    throw usage_failure(value + " does not exist or cannot be opened");
  }
}

}  // namespace

BuildOptions parse_command_line(const std::vector<std::string>& args, FileSystem& fs) {
  // Usage alone, with no message before it.
  if (args.empty()) throw usage_advice("");

  BuildOptions options;
  options.msg_typed = args.back();
  options.msg_path = shown_path(args.back());
  if (options.msg_path.find(".MSG") == std::string::npos) {
    throw usage_advice("The last option must be a .MSG file");
  }

  for (size_t i = 0; i + 1 < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      throw usage_failure("bad argument : " + arg);
    }
    std::string value = arg.substr(2);
    switch (arg[1]) {
      case 'c':
        options.create = true;
        break;
      case 'W':
        // Unlike -c, which takes any value, a new option takes none.
        if (!value.empty()) throw usage_failure("bad argument : " + arg);
        options.warnings_are_errors = true;
        break;
      case 'b':
        // Taken into account before the command line is read, by
        // wants_batch(); a value would be a typing mistake.
        if (!value.empty()) throw usage_failure("bad argument : " + arg);
        break;
      case 'h':
        // An empty value would only fail once the build is done.
        if (value.empty()) {
          throw usage_failure(
              "-h needs a file name:\nthe file name must follow -h with no blank, as in "
              "-hMyMessagesNames.h");
        }
        options.names_path = value;
        options.names_given = true;
        break;
      case 't':
        check_source(fs, value);
        options.source_path = value;
        options.source_given = true;
        break;
      case 'l':
        if (value.empty()) {
          throw usage_failure(
              "-l needs a file name:\nthe file name must follow -l with no blank, as in "
              "-lAllLanguages.txt");
        }
        options.list_path = value;
        options.list_given = true;
        break;
      case 'r':
        // A new option takes no value.
        if (!value.empty()) throw usage_failure("bad argument : " + arg);
        options.replace = true;
        break;
      default:
        throw usage_failure("bad argument : " + arg);
    }
  }
  if (options.list_given && options.source_given) {
    throw usage_failure("-l and -t cannot be used together: the list names every source");
  }
  if (options.replace && options.create) {
    throw usage_failure("-r and -c cannot be used together: -r replaces a table of a MSG file");
  }
  if (options.list_given) {
    options.sources = read_source_list(fs, options.list_path);
    for (const std::string& source : options.sources) check_source(fs, source);
    options.source_path = options.sources.front();
    options.source_given = true;
  } else if (options.source_given) {
    options.sources = {options.source_path};
  }
  if (!options.source_given) {
    throw usage_advice(
        "Use the -t option below to specify the file that contains messages definitions");
  }
  if (!options.names_given) {
    throw usage_advice(
        "Use the -h option below to specify the name of the h file that will be generated");
  }
  return options;
}

}  // namespace tolvane
