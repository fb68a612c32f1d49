#include "dump/command.h"

#include <optional>

#include "base/failure.h"
#include "dump/check.h"
#include "dump/decompile.h"
#include "dump/lint.h"
#include "dump/model.h"
#include "msgfile/memory_file.h"
#include "platform/arguments.h"
#include "platform/charset.h"
#include "source/decimal.h"
#include "tolvane_version.h"

namespace tolvane::dump {
namespace {

Failure usage_error(const std::string& message) { return usage_failure(message); }

unsigned parse_rank(const std::string& option, const std::string& text) {
  const Decimal d = scan_decimal(text, 0, false);
  if (d.end != text.size()) {
    throw usage_error(option + " needs a table number, not \"" + text + "\"");
  }
  if (!d.found() || d.overflow || d.magnitude == 0 || d.magnitude > 65535) {
    throw usage_error(option + " needs a table number from 1 to 65535, not \"" + text + "\"");
  }
  return static_cast<unsigned>(d.magnitude);
}

const char* mode_option(Mode mode) {
  switch (mode) {
    case Mode::kMessages:
      return "--messages";
    case Mode::kCheck:
      return "--check";
    case Mode::kSource:
      return "--source";
    case Mode::kLint:
      return "--lint";
    case Mode::kStats:
      return "--stats";
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
         "  --json             the summary, the messages, the problems, the findings or\n"
         "                     the statistics as JSON; a failure as {\"error\": \"...\"}\n"
         "  --check            check the file's structure, listing every problem\n"
         "  --source XX[:N]    write a message source that rebuilds table N (default 1)\n"
         "                     of language XX\n"
         "  --names NAMES.h    with --source or --lint: message names from this names header\n"
         "  --lint             compare the translations of each table with a reference:\n"
         "                     missing, extra, duplicate identifiers, texts whose printf\n"
         "                     conversions differ; tables no lookup reaches, texts not in\n"
         "                     their table's coding; with --names also unnamed and\n"
         "                     unused identifiers\n"
         "  --stats            per table: messages, missing, extra and coverage against\n"
         "                     its reference\n"
         "  --reference XX     with --lint or --stats: compare with language XX (default:\n"
         "                     the language of the first table added of each type_key)\n"
         "  --utf8             with --messages: texts in UTF-8 where they decode (UNICODE\n"
         "                     tables from UTF-16); with --json a \"utf8\" field besides;\n"
         "                     with --source a comment line in UTF-8 above each message\n"
         "  --charset NAME     with --utf8 (which it implies): the character set of the\n"
         "                     byte tables' fonts, as iconv names it (default ASCII)\n"
         "  --help             show this text\n"
         "  --version          show the version\n"
         "Tables of the same type_key are translations of one another; tables of other\n"
         "type_keys are never compared. Example, on the demo catalogue:\n"
         "  tolvane-dump --lint --names AppMessages.h app.msg\n"
         "  tolvane-dump --stats --reference EN app.msg\n"
         "Exit codes: 0 done; 1 unreadable or damaged file, --check found problems or\n"
         "--lint found something; 2 wrong command line.\n";
}

std::string dump_version() { return std::string("tolvane-dump ") + kVersion + "\n"; }

namespace {

// What the command line gave besides the options' values.
struct Given {
  bool table = false;  // --table
  bool path = false;   // the MSG file
};

void set_mode(DumpOptions* options, Mode mode) {
  if (options->mode != Mode::kSummary && options->mode != mode) {
    throw usage_error(std::string(mode_option(options->mode)) + " and " + mode_option(mode) +
                      " cannot be combined");
  }
  options->mode = mode;
}

// Reads the reader's argument into `options`, and the value it takes.
void read_argument(ArgumentReader& in, DumpOptions* options, Given* given) {
  const std::string& arg = in.arg();
  auto take_value = [&] { return in.value(); };
  if (arg == "--help" || arg == "-h") {
    options->help = true;
  } else if (arg == "--version") {
    options->version = true;
  } else if (arg == "--messages") {
    set_mode(options, Mode::kMessages);
  } else if (arg == "--check") {
    set_mode(options, Mode::kCheck);
  } else if (arg == "--lint") {
    set_mode(options, Mode::kLint);
  } else if (arg == "--stats") {
    set_mode(options, Mode::kStats);
  } else if (arg == "--reference") {
    options->reference = take_value();
    if (options->reference.empty()) throw usage_error("--reference needs a language");
  } else if (arg == "--utf8") {
    options->utf8 = true;
  } else if (arg == "--charset") {
    options->charset = take_value();
    options->utf8 = true;
    if (options->charset.empty()) throw usage_error("--charset needs a character set name");
  } else if (arg == "--json") {
    options->json = true;
  } else if (arg == "--language") {
    options->selection.all_languages = false;
    options->selection.language = take_value();
  } else if (arg == "--table") {
    given->table = true;
    options->selection.rank = parse_rank("--table", take_value());
  } else if (arg == "--source") {
    set_mode(options, Mode::kSource);
    std::string target = take_value();
    size_t colon = target.rfind(':');
    options->source_language = target.substr(0, colon);
    if (colon != std::string::npos) {
      options->source_rank = parse_rank("--source", target.substr(colon + 1));
    }
  } else if (arg == "--names") {
    options->names_path = take_value();
    if (options->names_path.empty()) throw usage_error("--names needs a file name");
  } else if (arg.size() > 1 && arg[0] == '-') {
    throw usage_error("unknown option " + arg);
  } else if (given->path) {
    throw usage_error("only one MSG file can be given; \"" + arg + "\" is one too many");
  } else {
    options->msg_path = arg;
    given->path = true;
  }
}

// Refuses options that do not go with the mode.
void check_combinations(const DumpOptions& options, const Given& given) {
  const bool selects = !options.selection.all_languages || given.table;
  if (options.mode == Mode::kSource && (options.json || selects)) {
    throw usage_error("--source cannot be combined with --json, --language or --table");
  }
  if (options.mode == Mode::kCheck && selects) {
    throw usage_error("--check always checks the whole file: no --language or --table");
  }
  if ((options.mode == Mode::kLint || options.mode == Mode::kStats) && selects) {
    throw usage_error(std::string(mode_option(options.mode)) +
                      " always compares the whole file: no --language or --table");
  }
  if (!options.names_path.empty() && options.mode != Mode::kSource && options.mode != Mode::kLint) {
    throw usage_error("--names only goes with --source or --lint");
  }
  if (!options.reference.empty() && options.mode != Mode::kLint && options.mode != Mode::kStats) {
    throw usage_error("--reference only goes with --lint or --stats");
  }
  if (options.utf8 && options.mode != Mode::kMessages && options.mode != Mode::kSource) {
    throw usage_error("--utf8 and --charset only go with --messages or --source");
  }
}

}  // namespace

DumpOptions parse_dump_options(const std::vector<std::string>& args) {
  DumpOptions options;
  Given given;
  ArgumentReader in(args);
  while (in.next()) read_argument(in, &options, &given);
  if (options.help || options.version) return options;
  if (!given.path) throw usage_error("no MSG file given");
  check_combinations(options, given);
  // A character set the system does not know is a wrong command line.
  if (!options.charset.empty()) Charset known(options.charset);
  return options;
}

DumpResult run_dump(const DumpOptions& options, std::shared_ptr<File> file,
                    std::string_view names_header, Output& out) {
  std::unique_ptr<Utf8View> view;
  if (options.utf8) view = std::make_unique<Utf8View>(options.charset);
  const OpenCatalogue catalogue = inspect_catalogue(std::move(file), options.windows);
  DumpResult result;
  if (options.mode == Mode::kSource) {
    Selection selection;
    selection.all_languages = false;
    selection.language = options.source_language;
    selection.rank = options.source_rank;
    const Shown shown = select_tables(catalogue, selection);
    const TableLayout& table = catalogue.tables[shown.front().tables.front()];
    decompile_table(catalogue, table, NameTable(names_header), out, view.get());
    return result;
  }
  const std::vector<Problem> problems = check_catalogue(catalogue);
  auto problem_count = [&] {
    return std::to_string(problems.size()) + " structural problem" +
           (problems.size() == 1 ? "" : "s") + "; --check lists them";
  };
  if (options.mode == Mode::kCheck) {
    if (options.json) {
      render_json(catalogue, select_tables(catalogue, {}), false, &problems, out);
    } else {
      render_problems(problems, out);
    }
    result.damaged = !problems.empty();
    return result;
  }
  if (options.mode == Mode::kLint || options.mode == Mode::kStats) {
    // Comparing tables whose layout cannot be trusted would report noise.
    if (!problems.empty()) throw input_failure("the file has " + problem_count());
    LintOptions lint;
    lint.reference = options.reference;
    lint.json = options.json;
    lint.stats_only = options.mode == Mode::kStats;
    std::optional<NameTable> names;
    if (!options.names_path.empty()) names.emplace(names_header);
    lint.names = names ? &*names : nullptr;
    result.damaged = lint_catalogue(catalogue, lint, out) > 0 && !lint.stats_only;
    return result;
  }
  const Shown shown = select_tables(catalogue, options.selection);
  const bool messages = options.mode == Mode::kMessages;
  if (options.json) {
    render_json(catalogue, shown, messages, nullptr, out, view.get());
  } else if (messages) {
    render_messages(catalogue, shown, out, view.get());
  } else {
    render_summary(catalogue, shown, out);
  }
  if (!problems.empty()) result.warning = "the file has " + problem_count() + "\n";
  return result;
}

DumpResult run_dump(const DumpOptions& options, std::string_view bytes,
                    std::string_view names_header) {
  Output out;
  DumpResult result = run_dump(options, std::make_shared<MemoryFile>(bytes), names_header, out);
  result.out = out.take();
  return result;
}

}  // namespace tolvane::dump
