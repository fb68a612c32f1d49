#include <cstring>
#include <map>
#include <memory>

#include "base/failure.h"
#include "platform/charset.h"
#include "platform/file_io.h"
#include "platform/io_failure.h"
#include "translate/commands.h"
#include "translate/message_source.h"
#include "translate/po_file.h"
#include "translate/table_text.h"
#include "translate/xliff_file.h"

namespace tolvane::translate {
namespace {

std::string load(FileSystem& fs, const std::string& path) {
  try {
    std::unique_ptr<File> file = fs.open(path, OpenMode::kRead);
    std::string bytes = read_all(*file);
    file->close();
    return bytes;
  } catch (const IoError& error) {
    throw io_failure("cannot read " + path, error);
  }
}

bool ends_with(const std::string& text, const char* end) {
  const size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

// XLIFF by its name, or by content for any other name.
TranslationFile read_translation(FileSystem& fs, const std::string& path) {
  if (ends_with(path, ".po") || ends_with(path, ".pot")) return read_po(path);
  const std::string bytes = load(fs, path);
  const size_t start = bytes.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (ends_with(path, ".xlf") || ends_with(path, ".xliff") ||
      (start != std::string::npos && bytes[start] == '<')) {
    return read_xliff(bytes, path);
  }
  return read_po(path);
}

bool is_ascii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string count(size_t n, const char* what) { return std::to_string(n) + " " + what; }

}  // namespace

std::string message_lines(int32_t id, const std::string& name, const std::string& literal,
                          const std::string& utf8, bool show_utf8) {
  std::string out;
  if (show_utf8) out += "// " + readable_line(utf8) + "\n";
  out += "#message " + std::to_string(id) + " " + name + " \"" + literal + "\"\n";
  return out;
}

namespace {

// The translation file's place of `entry`, for notes and failures.
std::string where(const TranslateOptions& options, const TranslationEntry& entry) {
  std::string place = options.translation;
  if (entry.line > 0) {
    place += ':';
    place += std::to_string(entry.line);
  }
  place += ": ";
  place += entry.name.empty() ? "(no name)" : entry.name;
  return place;
}

// The five directive lines of the new source, from --directives or from the
// directive options; `unicode` says whether they ask for a UNICODE table.
std::string directive_lines(FileSystem& fs, const TranslateOptions& options, bool* unicode) {
  std::string out;
  if (!options.directives.empty()) {
    const MessageSource directives = read_message_source(fs, options.directives);
    if (directives.directive_lines.size() < 5) {
      throw input_failure(options.directives + ": the five directive lines are not all there");
    }
    for (const std::string& line : directives.directive_lines) out += line + "\n";
    *unicode = directives.unicode();
    return out;
  }
  *unicode = options.coding == "UNICODE";
  return "// #LANGUAGE " + options.language + "\n// #FONFILE " + options.font + "\n// #MSGCODING " +
         options.coding + "\n// #FILETYPE " + options.file_type + "\n// #APPLITYPE " +
         options.application_type + "\n";
}

// The translation file's entries a table can take, by name: those of the
// reference's messages, each name once. The others are noted and counted.
struct UsableEntries {
  std::map<std::string, const TranslationEntry*> by_name;
  size_t unknown = 0, plural = 0;
};

UsableEntries usable_entries(const TranslateOptions& options, const MessageSource& reference,
                             const TranslationFile& file, std::vector<std::string>* notes) {
  std::map<std::string, const SourceMessage*> reference_names;
  for (const SourceMessage& message : reference.messages) {
    if (message.has_text) reference_names.emplace(message.name, &message);
  }
  UsableEntries usable;
  for (const TranslationEntry& entry : file.entries) {
    if (entry.plural) {
      ++usable.plural;
      notes->push_back(where(options, entry) +
                       ": has plural forms, which a table cannot hold; left out");
    } else if (reference_names.count(entry.name) == 0) {
      ++usable.unknown;
      notes->push_back(where(options, entry) + ": the reference " + options.reference +
                       " has no message of that name; left out");
    } else if (!usable.by_name.emplace(entry.name, &entry).second) {
      notes->push_back(where(options, entry) + ": given again; the first one is taken");
    }
  }
  return usable;
}

}  // namespace

CommandResult run_import(FileSystem& fs, const TranslateOptions& options) {
  const Charset charset(options.charset);
  const Charset reference_charset(options.reference_charset_name());
  CommandResult result;
  const MessageSource reference = read_message_source(fs, options.reference);
  const TableText reference_text(reference.unicode(), reference_charset);

  bool unicode = false;
  std::string out = directive_lines(fs, options, &unicode);
  const TableText table_text(unicode, charset);

  const TranslationFile file = read_translation(fs, options.translation);
  const UsableEntries usable = usable_entries(options, reference, file, &result.notes);

  size_t translated = 0, fuzzy = 0, untranslated = 0;
  for (const SourceMessage& message : reference.messages) {
    if (!message.has_text) continue;
    auto it = usable.by_name.find(message.name);
    if (it == usable.by_name.end() || it->second->target.empty()) {
      ++untranslated;
      continue;
    }
    const TranslationEntry& entry = *it->second;
    // A translation made for another reference text is no better than a
    // fuzzy one (msgmerge marks it so).
    std::string current, why;
    if (!reference_text.to_utf8(message.bytes, &current, &why)) {
      throw input_failure(reference.path + ":" + std::to_string(message.line) + ": " +
                          message.name + ": " + why);
    }
    const bool stale = entry.source != current;
    if (entry.fuzzy || stale) {
      ++fuzzy;
      if (stale && !entry.fuzzy) {
        result.notes.push_back(where(options, entry) +
                               ": translates another text than the reference's; taken as fuzzy");
      }
      if (!options.fuzzy) continue;
    }
    std::string bytes;
    if (!table_text.from_utf8(entry.target, &bytes, &why)) {
      throw input_failure(where(options, entry) + ": " + why);
    }
    ++translated;
    const bool plain = !unicode && is_ascii(entry.target);
    out += message_lines(message.id, message.name, table_text.literal(bytes), entry.target, !plain);
  }
  std::string summary = base_name(options.translation) + ": " + count(translated, "translated");
  if (options.fuzzy) {
    summary += " (" + std::to_string(fuzzy) + " of them fuzzy)";
  } else {
    summary += ", " + count(fuzzy, "fuzzy left out");
  }
  summary += ", " + count(untranslated, "untranslated left out");
  if (usable.unknown > 0) summary += ", " + count(usable.unknown, "unknown left out");
  if (usable.plural > 0) summary += ", " + count(usable.plural, "plural left out");
  result.summary = std::move(summary);
  result.output = std::move(out);
  return result;
}

}  // namespace tolvane::translate
