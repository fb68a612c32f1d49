#include "driver/options.h"

#include <algorithm>

#include "base/failure.h"
#include "driver/display.h"
#include "driver/source_list.h"

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

// The command line read option by option: what it sets, and which of the
// options a run needs were given, which only the reading itself needs.
class Parser {
 public:
  Parser(FileSystem& fs, const std::string& msg) : fs_(fs) {
    options_.msg_path = msg;
    options_.msg_shown = shown_path(msg);
    if (options_.msg_shown.find(".MSG") == std::string::npos) {
      throw usage_advice("The last option must be a .MSG file");
    }
  }

  void read(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-') {
      throw usage_failure("bad argument : " + arg);
    }
    std::string value = arg.substr(2);
    switch (arg[1]) {
      case 'c':
        options_.create = true;
        break;
      case 'W':
        // Unlike -c, which takes any value, a new option takes none.
        if (!value.empty()) throw usage_failure("bad argument : " + arg);
        options_.warnings_are_errors = true;
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
        options_.names_path = value;
        names_given_ = true;
        break;
      case 't':
        check_source(fs_, value);
        options_.source_path = value;
        source_given_ = true;
        break;
      case 'l':
        if (value.empty()) {
          throw usage_failure(
              "-l needs a file name:\nthe file name must follow -l with no blank, as in "
              "-lAllLanguages.txt");
        }
        options_.list_path = value;
        list_given_ = true;
        break;
      case 'r':
        // A new option takes no value.
        if (!value.empty()) throw usage_failure("bad argument : " + arg);
        options_.replace = true;
        break;
      default:
        throw usage_failure("bad argument : " + arg);
    }
  }

  // The options together, once each is read.
  BuildOptions finish() {
    if (list_given_ && source_given_) {
      throw usage_failure("-l and -t cannot be used together: the list names every source");
    }
    if (options_.replace && options_.create) {
      throw usage_failure("-r and -c cannot be used together: -r replaces a table of a MSG file");
    }
    if (list_given_) {
      options_.sources = read_source_list(fs_, options_.list_path);
      for (const std::string& source : options_.sources) check_source(fs_, source);
      options_.source_path = options_.sources.front();
      source_given_ = true;
    } else if (source_given_) {
      options_.sources = {options_.source_path};
    }
    if (!source_given_) {
      throw usage_advice(
          "Use the -t option below to specify the file that contains messages definitions");
    }
    if (!names_given_) {
      throw usage_advice(
          "Use the -h option below to specify the name of the h file that will be generated");
    }
    return options_;
  }

 private:
  FileSystem& fs_;
  BuildOptions options_;
  bool source_given_ = false, names_given_ = false, list_given_ = false;
};

}  // namespace

BuildOptions parse_command_line(const std::vector<std::string>& args, FileSystem& fs) {
  // Usage alone, with no message before it.
  if (args.empty()) throw usage_advice("");
  Parser parser(fs, args.back());
  for (size_t i = 0; i + 1 < args.size(); ++i) parser.read(args[i]);
  return parser.finish();
}

}  // namespace tolvane
