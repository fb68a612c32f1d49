#include "dump/command.h"

#include "dump/check.h"
#include "dump/decompile.h"
#include "dump/model.h"
#include "platform/failure.h"

namespace tolvane::dump {
namespace {

Failure usage_error(const std::string& message) {
  return Failure(message + "\n", Channel::kErr, true, false);
}

unsigned parse_rank(const std::string& option, const std::string& text) {
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 65535) {
      throw usage_error(option + " needs a table number, not \"" + text + "\"");
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (text.empty() || value == 0 || value > 65535) {
    throw usage_error(option + " needs a table number from 1 to 65535, not \"" + text + "\"");
  }
  return static_cast<unsigned>(value);
}

const char* mode_option(Mode mode) {
  switch (mode) {
    case Mode::kMessages:
      return "--messages";
    case Mode::kCheck:
      return "--check";
    case Mode::kSource:
      return "--source";
    default:
      return "";
  }
}

}  // namespace

std::string dump_usage() {
  return "Usage: tolvane-dump [options] FILE.MSG\n"
         "Shows what an MSG catalogue holds.\n"
         "  (no option)        summary: header, languages and their tables\n"
         "  --messages         every message of the shown tables, by identifier\n"
         "  --language XX      show language XX only\n"
         "  --table N          show the Nth table of each shown language only\n"
         "  --json             the summary, the messages or the problems as JSON\n"
         "  --check            check the file's structure, listing every problem\n"
         "  --source XX[:N]    write a message source that rebuilds table N (default 1)\n"
         "                     of language XX\n"
         "  --names NAMES.h    with --source: message names from this names header\n"
         "  --help             show this text\n"
         "Exit codes: 0 done; 1 unreadable or damaged file, or --check found problems;\n"
         "2 wrong command line.\n";
}

DumpOptions parse_dump_options(const std::vector<std::string>& args) {
  DumpOptions options;
  bool has_table = false;
  bool has_path = false;
  auto set_mode = [&](Mode mode) {
    if (options.mode != Mode::kSummary && options.mode != mode) {
      throw usage_error(std::string(mode_option(options.mode)) + " and " + mode_option(mode) +
                        " cannot be combined");
    }
    options.mode = mode;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool has_value = false;
    if (arg.rfind("--", 0) == 0) {
      if (size_t equals = arg.find('='); equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
        has_value = true;
      }
    }
    auto take_value = [&]() {
      if (has_value) return value;
      if (i + 1 >= args.size()) throw usage_error(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--messages") {
      set_mode(Mode::kMessages);
    } else if (arg == "--check") {
      set_mode(Mode::kCheck);
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--language") {
      options.selection.all_languages = false;
      options.selection.language = take_value();
    } else if (arg == "--table") {
      has_table = true;
      options.selection.rank = parse_rank("--table", take_value());
    } else if (arg == "--source") {
      set_mode(Mode::kSource);
      std::string target = take_value();
      size_t colon = target.rfind(':');
      options.source_language = target.substr(0, colon);
      if (colon != std::string::npos) {
        options.source_rank = parse_rank("--source", target.substr(colon + 1));
      }
    } else if (arg == "--names") {
      options.names_path = take_value();
      if (options.names_path.empty()) throw usage_error("--names needs a file name");
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw usage_error("unknown option " + arg);
    } else if (has_path) {
      throw usage_error("only one MSG file can be given; \"" + arg + "\" is one too many");
    } else {
      options.msg_path = arg;
      has_path = true;
    }
  }
  if (options.help) return options;
  if (!has_path) throw usage_error("no MSG file given");
  const bool selects = !options.selection.all_languages || has_table;
  if (options.mode == Mode::kSource && (options.json || selects)) {
    throw usage_error("--source cannot be combined with --json, --language or --table");
  }
  if (options.mode == Mode::kCheck && selects) {
    throw usage_error("--check always checks the whole file: no --language or --table");
  }
  if (!options.names_path.empty() && options.mode != Mode::kSource) {
    throw usage_error("--names only goes with --source");
  }
  return options;
}

DumpResult run_dump(const DumpOptions& options, std::string_view bytes,
                    std::string_view names_header) {
  const CatalogueView catalogue = inspect_catalogue(bytes);
  DumpResult result;
  if (options.mode == Mode::kSource) {
    Selection selection;
    selection.all_languages = false;
    selection.language = options.source_language;
    selection.rank = options.source_rank;
    const Shown shown = select_tables(catalogue, selection);
    const TableView& table = catalogue.tables[shown.front().tables.front()];
    result.out = decompile_table(catalogue, table, NameTable(names_header));
    return result;
  }
  const std::vector<Problem> problems = check_catalogue(catalogue);
  if (options.mode == Mode::kCheck) {
    result.out = options.json
                     ? render_json(catalogue, select_tables(catalogue, {}), false, &problems)
                     : render_problems(problems);
    result.damaged = !problems.empty();
    return result;
  }
  const Shown shown = select_tables(catalogue, options.selection);
  const bool messages = options.mode == Mode::kMessages;
  if (options.json) {
    result.out = render_json(catalogue, shown, messages, nullptr);
  } else {
    result.out = messages ? render_messages(catalogue, shown) : render_summary(catalogue, shown);
  }
  if (!problems.empty()) {
    result.warning = "the file has " + std::to_string(problems.size()) + " structural problem" +
                     (problems.size() == 1 ? "" : "s") + "; --check lists them\n";
  }
  return result;
}

}  // namespace tolvane::dump
