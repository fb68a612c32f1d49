#include "translate/translate_options.h"

#include "base/failure.h"
#include "platform/arguments.h"
#include "source/decimal.h"

namespace tolvane::translate {
namespace {

bool is_hex(const std::string& text) {
  std::string digits = text;
  if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits = digits.substr(2);
  if (digits.empty() || digits.size() > 8) return false;
  return digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

bool is_token(const std::string& text) {
  return !text.empty() && text.find_first_of(" \t\r\n\"") == std::string::npos;
}

}  // namespace

std::string translate_usage() {
  return "Usage:\n"
         "  tolvane-translate export [--format po|xliff] [--charset NAME]\n"
         "      [--reference-charset NAME] [--translation SOURCE] [-o FILE] REFERENCE\n"
         "  tolvane-translate import --reference REFERENCE [--charset NAME]\n"
         "      [--reference-charset NAME] [--fuzzy] (--directives SOURCE | --language XX\n"
         "      --font F --coding C --file-type N --application-type N) [-o FILE] TRANSLATION\n"
         "  tolvane-translate pseudo [--charset NAME] [--language XX] [--expand PERCENT]\n"
         "      [-o FILE] REFERENCE\n"
         "Connects message sources with the files translators work in.\n"
         "  export    a PO template (or XLIFF without targets) of the reference source;\n"
         "            with --translation, the PO or XLIFF file of that language\n"
         "  import    the message source of a language from its PO or XLIFF file\n"
         "  pseudo    a pseudo-language source: accented letters, longer texts in brackets\n"
         "  --charset NAME            the 8-bit character set of the byte table's font\n"
         "                            (any name iconv knows); without it byte texts are ASCII\n"
         "  --reference-charset NAME  the reference's, when it differs\n"
         "  --fuzzy                   import: take fuzzy translations too\n"
         "  --file-type, --application-type  hexadecimal, as in the directive lines\n"
         "  -o FILE                   write FILE (whole, or not at all) instead of\n"
         "                            standard output\n"
         "UNICODE tables are UTF-16, high byte first; their texts need no --charset.\n"
         "Exit codes: 0 done; 1 failure; 2 wrong command line.\n";
}

namespace {

Failure reject(const std::string& message) { return usage_failure(message); }

// Reads every option into `options`; the arguments that are none go to
// `operands`.
void read_options(const std::vector<std::string>& args, TranslateOptions* options,
                  std::vector<std::string>* operands) {
  ArgumentReader in(args);
  while (in.next()) {
    const std::string& arg = in.arg();
    auto take = [&] { return in.value(); };
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--format") {
      const std::string format = take();
      if (format == "po") {
        options->format = Format::kPo;
      } else if (format == "xliff") {
        options->format = Format::kXliff;
      } else {
        throw reject("--format is po or xliff, not \"" + format + "\"");
      }
    } else if (arg == "--charset") {
      options->charset = take();
      if (options->charset.empty()) throw reject("--charset needs a character set name");
    } else if (arg == "--reference-charset") {
      options->reference_charset = take();
      options->reference_charset_given = true;
      if (options->reference_charset.empty()) {
        throw reject("--reference-charset needs a character set name");
      }
    } else if (arg == "--translation") {
      options->translation = take();
    } else if (arg == "--reference") {
      options->reference = take();
    } else if (arg == "-o" || arg == "--output") {
      options->output = take();
      if (options->output.empty()) throw reject("-o needs a file name");
    } else if (arg == "--fuzzy") {
      options->fuzzy = true;
    } else if (arg == "--directives") {
      options->directives = take();
    } else if (arg == "--language") {
      options->language = take();
    } else if (arg == "--font") {
      options->font = take();
    } else if (arg == "--coding") {
      options->coding = take();
    } else if (arg == "--file-type") {
      options->file_type = take();
    } else if (arg == "--application-type") {
      options->application_type = take();
    } else if (arg == "--expand") {
      const std::string text = take();
      const Decimal d = scan_decimal(text, 0, false);
      if (!d.found() || d.end != text.size() || d.overflow || d.magnitude > 1000) {
        throw reject("--expand needs a percentage from 0 to 1000, not \"" + text + "\"");
      }
      options->expand = static_cast<unsigned>(d.magnitude);
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw reject("unknown option " + arg);
    } else {
      operands->push_back(arg);
    }
  }
}

// Any of the options that stand for the directive lines.
bool table_options(const TranslateOptions& options) {
  return !options.language.empty() || !options.font.empty() || !options.coding.empty() ||
         !options.file_type.empty() || !options.application_type.empty();
}

// Refuses an import that lacks what it needs or is given what it cannot use.
void check_import(const TranslateOptions& options) {
  if (options.reference.empty()) throw reject("import needs --reference REFERENCE");
  if (!options.directives.empty() && table_options(options)) {
    throw reject("--directives and the directive options cannot be combined");
  }
  if (options.directives.empty()) {
    if (options.language.empty() || options.font.empty() || options.coding.empty() ||
        options.file_type.empty() || options.application_type.empty()) {
      throw reject(
          "import needs --directives SOURCE, or all of --language, --font, --coding, "
          "--file-type and --application-type");
    }
    for (const std::string* token : {&options.language, &options.font, &options.coding}) {
      if (!is_token(*token)) throw reject("\"" + *token + "\" cannot be a directive value");
    }
    for (const std::string* number : {&options.file_type, &options.application_type}) {
      if (!is_hex(*number)) {
        throw reject("--file-type and --application-type are hexadecimal, not \"" + *number + "\"");
      }
    }
  }
}

// The same for export and pseudo, which take no translation to import.
void check_export_or_pseudo(TranslateOptions* options) {
  if (options->command == Command::kPseudo) {
    if (!options->language.empty()) options->pseudo_language = options->language;
    if (!is_token(options->pseudo_language)) throw reject("--language needs a language code");
    if (!options->translation.empty() || options->fuzzy || !options->directives.empty() ||
        !options->font.empty() || !options->coding.empty() || !options->file_type.empty() ||
        !options->application_type.empty() || options->reference_charset_given) {
      throw reject("pseudo takes only --charset, --language, --expand and -o");
    }
  } else if (table_options(*options) || options->fuzzy || !options->directives.empty()) {
    throw reject("export takes no --fuzzy, --directives or directive options");
  }
}

}  // namespace

TranslateOptions parse_translate_options(const std::vector<std::string>& args) {
  TranslateOptions options;
  std::vector<std::string> operands;
  read_options(args, &options, &operands);
  if (options.help || options.version) return options;
  if (operands.empty()) throw reject("no command given: export, import or pseudo");
  const std::string command = operands.front();
  operands.erase(operands.begin());
  if (command == "export") {
    options.command = Command::kExport;
  } else if (command == "import") {
    options.command = Command::kImport;
  } else if (command == "pseudo") {
    options.command = Command::kPseudo;
  } else {
    throw reject("unknown command \"" + command + "\": export, import or pseudo");
  }
  if (operands.size() != 1) {
    throw reject(command + " takes one " +
                 (options.command == Command::kImport ? "PO or XLIFF file" : "reference source") +
                 (operands.empty() ? "" : ", not " + std::to_string(operands.size())));
  }
  if (options.command == Command::kImport) {
    options.translation = operands.front();
    check_import(options);
    return options;
  }
  if (!options.reference.empty()) throw reject(command + " takes the reference source as operand");
  options.reference = operands.front();
  check_export_or_pseudo(&options);
  return options;
}

}  // namespace tolvane::translate
