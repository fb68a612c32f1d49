#include <cctype>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include "base/failure.h"
#include "msgfile/printf_format.h"
#include "platform/charset.h"
#include "translate/commands.h"
#include "translate/message_source.h"
#include "translate/po_file.h"
#include "translate/table_text.h"
#include "translate/xliff_file.h"

namespace tolvane::translate {
namespace {

std::string lower_language(const std::string& language) {
  std::string code = language.substr(0, 2);
  for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return code;
}

// Nothing in the file changes from run to run, unless the build asks for a
// date of its own.
std::string creation_date() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr || *epoch == '\0') return "";
  char* end = nullptr;
  const long long seconds = std::strtoll(epoch, &end, 10);
  if (*end != '\0' || seconds < 0) return "";
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&time, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M+0000", &utc);
  return buffer;
}

std::string where(const MessageSource& source, const SourceMessage& message) {
  return source.path + ":" + std::to_string(message.line) + ": " + message.name;
}

// A text the file's format cannot carry, said why, or empty.
std::string cannot_carry(const std::string& utf8, bool xliff) {
  if (utf8.find('\0') != std::string::npos) {
    return "a 0x00 byte before its end, which no translation file can carry";
  }
  if (xliff && !xml_can_hold(utf8)) return "a control character XML cannot carry";
  return "";
}

// Gives `entry` the text of `target`, the translation's message of its
// identifier, when the file's format can carry it.
void add_target(const MessageSource& translation, const SourceMessage& target,
                const TableText& text, bool xliff, TranslationEntry* entry,
                std::vector<std::string>* notes) {
  std::string why;
  if (!text.to_utf8(target.bytes, &entry->target, &why)) {
    throw input_failure(where(translation, target) + ": " + why);
  }
  if (std::string problem = cannot_carry(entry->target, xliff); !problem.empty()) {
    notes->push_back(where(translation, target) + ": its text holds " + problem +
                     "; left untranslated");
    entry->target.clear();
  }
}

}  // namespace

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

CommandResult run_export(FileSystem& fs, const TranslateOptions& options) {
  const Charset charset(options.charset);
  const Charset reference_charset(options.reference_charset_name());
  const bool xliff = options.format == Format::kXliff;
  CommandResult result;

  const MessageSource reference = read_message_source(fs, options.reference);
  const TableText reference_text(reference.unicode(), reference_charset);
  TranslationFile file;
  file.source_language = lower_language(reference.parameters.language);
  file.project = base_name(options.reference);
  file.creation_date = creation_date();

  MessageSource translation;
  const bool translated = !options.translation.empty();
  std::map<int32_t, const SourceMessage*> by_id;
  if (translated) {
    translation = read_message_source(fs, options.translation);
    file.target_language = lower_language(translation.parameters.language);
    for (const SourceMessage& message : translation.messages) {
      if (message.has_text) by_id.emplace(message.id, &message);
    }
  }
  const TableText translation_text(translation.unicode(), charset);

  std::set<std::string> names;
  std::set<int32_t> reference_ids;
  for (const SourceMessage& message : reference.messages) {
    if (!message.has_text) continue;
    reference_ids.insert(message.id);
    if (!names.insert(message.name).second) {
      result.notes.push_back(where(reference, message) +
                             ": the name is used again; only its first message is exported");
      continue;
    }
    TranslationEntry entry;
    std::string why;
    if (!reference_text.to_utf8(message.bytes, &entry.source, &why)) {
      throw input_failure(where(reference, message) + ": " + why);
    }
    if (std::string problem = cannot_carry(entry.source, xliff); !problem.empty()) {
      result.notes.push_back(where(reference, message) + ": its text holds " + problem +
                             "; left out");
      continue;
    }
    entry.name = message.name;
    entry.notes = message.comments;
    entry.location = options.reference;
    entry.location_line = message.line;
    entry.c_format = is_c_format(entry.source);
    if (auto it = by_id.find(message.id); it != by_id.end()) {
      add_target(translation, *it->second, translation_text, xliff, &entry, &result.notes);
    }
    file.entries.push_back(std::move(entry));
  }
  for (const SourceMessage& message : translation.messages) {
    if (message.has_text && reference_ids.count(message.id) == 0) {
      result.notes.push_back(where(translation, message) + ": the reference " + options.reference +
                             " has no message " + std::to_string(message.id) + "; left out");
    }
  }
  result.output = xliff ? write_xliff(file, options.reference) : write_po(file);
  return result;
}

}  // namespace tolvane::translate
