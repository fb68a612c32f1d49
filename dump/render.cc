#include "dump/render.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>

#include "base/failure.h"
#include "msgfile/escape.h"

namespace tolvane::dump {
namespace {

// An unterminated text runs to the end of its block, which may be anything;
// showing its start is enough to recognise it.
constexpr size_t kUnterminatedShown = 64;

std::string n(uint64_t value) { return std::to_string(value); }

std::string plural(uint64_t count, const std::string& word) {
  return n(count) + " " + word + (count == 1 ? "" : "s");
}

std::string range(uint64_t begin, uint64_t end) { return n(begin) + ".." + n(end); }

std::string json_bool(bool value) { return value ? "true" : "false"; }

// Where the text of a message ends as far as it is worth showing.
uint64_t shown_end(const MessageView& m) {
  if (m.terminated) return m.text_end;
  return std::min<uint64_t>(m.text_end, m.position + kUnterminatedShown);
}

// JSON's escapes of `text`, without the quotes around it.
void json_chars(std::string_view text, std::string* out) {
  for (char c : text) {
    if (c == '"' || c == '\\') out->push_back('\\');
    if (static_cast<unsigned char>(c) < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
      *out += buffer;
      continue;
    }
    out->push_back(c);
  }
}

// Hands the shown text of `m` to `piece` a window at a time: every notation
// spells each byte on its own, so pieces spell the whole text.
template <typename Piece>
void shown_pieces(BlockReader& reader, const MessageView& m, Piece piece) {
  reader.read(m.position, shown_end(m), ReadBuffer::Fill::kAsked, piece);
}

// The text of `m` in UTF-8, when there is a view, the text is whole and not
// too long to hold, and it decodes.
std::optional<std::string> decoded(const Utf8View* view, const TableLayout& table,
                                   BlockReader& reader, const MessageView& m) {
  if (view == nullptr || !m.in_block || !m.terminated || m.text_size() > Utf8View::kMaxDecoded) {
    return std::nullopt;
  }
  std::string bytes;
  shown_pieces(reader, m, [&](std::string_view piece) { bytes.append(piece); });
  return view->utf8(bytes, table.unicode());
}

void render_table_messages(const OpenCatalogue& catalogue, const TableLayout& table, Output& out,
                           const Utf8View* view) {
  const TableContent content = read_table(catalogue, table);
  BlockReader reader(catalogue, table.index_end, table.block_end);
  out << "Table " + catalogue.table_name(table) + ": " +
             plural(table.record.message_count, "message") + ", coding " +
             coding_name(table.record.coding) + "\n";
  for (const MessageView& m : content.messages) {
    char id[16];
    std::snprintf(id, sizeof id, "%7u", static_cast<unsigned>(m.id));
    out += id;
    if (!m.in_block) {
      out += "  text offset " + n(m.text_offset) + " points to byte " + n(m.position) +
             ", outside the block\n";
      continue;
    }
    out += "  at " + n(m.position) + "  \"";
    if (std::optional<std::string> utf8 = decoded(view, table, reader, m)) {
      out += quoted_utf8(*utf8);
    } else {
      shown_pieces(reader, m, [&](std::string_view bytes) { out += shown_text(table, bytes); });
    }
    out += "\"";
    if (!m.terminated) {
      out += m.text_size() > kUnterminatedShown ? "... (not terminated)" : " (not terminated)";
    }
    out += "\n";
  }
  if (content.messages.size() < table.record.message_count) {
    out += "  (the index is cut short by the end of the file after " + n(content.messages.size()) +
           (content.messages.size() == 1 ? " entry" : " entries") + ")\n";
  }
}

}  // namespace

Shown select_tables(const OpenCatalogue& catalogue, const Selection& selection) {
  Shown shown;
  size_t first = 0;
  size_t last = catalogue.languages.size();
  if (!selection.all_languages) {
    int rank = find_language(catalogue, selection.language);
    if (rank < 0) throw input_failure("the file has no language \"" + selection.language + "\"");
    first = static_cast<size_t>(rank);
    last = first + 1;
  }
  for (size_t i = first; i < last; ++i) {
    const LanguageLayout& language = catalogue.languages[i];
    if (selection.rank == 0) {
      std::vector<size_t> tables(language.tables_in_file);
      std::iota(tables.begin(), tables.end(), language.first_table);
      shown.push_back({i, std::move(tables)});
    } else if (selection.rank <= language.tables_in_file) {
      shown.push_back({i, {language.first_table + selection.rank - 1}});
    }
  }
  if (selection.rank != 0 && shown.empty()) {
    std::string where =
        selection.all_languages ? "in any language" : "in language \"" + selection.language + "\"";
    throw input_failure("the file has no table " + n(selection.rank) + " " + where);
  }
  return shown;
}

std::string coding_name(uint16_t coding) { return coding == kUnicodeCoding ? "UNICODE" : "byte"; }

std::string shown_text(const TableLayout& table, std::string_view text) {
  return table.unicode() ? byte_notation(text) : c_escape(text);
}

void render_summary(const OpenCatalogue& catalogue, const Shown& shown, Output& out) {
  const MsgFileHeader& header = catalogue.header;
  out += "MSG file of " + plural(catalogue.file_size, "byte") + "\n";
  out += "Header: name \"" + field_text(header.name, kNameWidth) + "\", version " +
         hex_number(header.version, 4) + ", " + plural(header.language_count, "language") + "\n";
  for (const LanguageTables& group : shown) {
    const LanguageLayout& language = catalogue.languages[group.language];
    out += "Language " + field_text(language.entry.language, kLanguageWidth) + ": " +
           plural(language.entry.table_count, "table") + ", entry at " + n(language.entry_offset) +
           ", records at " + n(language.entry.table_offset) + "\n";
    for (size_t index : group.tables) {
      const TableLayout& table = catalogue.tables[index];
      const TableRecord& record = table.record;
      out +=
          "  Table " + catalogue.table_name(table) + ", record at " + n(table.record_offset) + "\n";
      out += "    file type " + hex_number(file_type_of(record.type_key)) + ", application type " +
             hex_number(appli_type_of(record.type_key)) + " (type_key " +
             hex_number(record.type_key, 8) + ")\n";
      out += "    font file \"" + field_text(record.font_file, kFontFileWidth) + "\", coding " +
             coding_name(record.coding) + " (" + n(record.coding) + ")\n";
      out += "    " + plural(record.message_count, "message") + ", block " +
             range(table.block_begin, table.block_end) + ": index " +
             range(table.block_begin, table.index_end) + ", texts from " + n(table.index_end) +
             "\n";
    }
  }
}

void render_messages(const OpenCatalogue& catalogue, const Shown& shown, Output& out,
                     const Utf8View* view) {
  for (const LanguageTables& group : shown) {
    for (size_t index : group.tables)
      render_table_messages(catalogue, catalogue.tables[index], out, view);
  }
}

void render_problems(const std::vector<Problem>& problems, Output& out) {
  for (const Problem& problem : problems) {
    out += "byte " + n(problem.offset) + ": " + problem.text + "\n";
  }
  out += problems.empty() ? "No problems found.\n" : plural(problems.size(), "problem") + "\n";
}

namespace {

// The messages of one table as the "messages" field of its JSON object.
void json_messages(const OpenCatalogue& catalogue, const TableLayout& table, Output& out,
                   const Utf8View* view) {
  const TableContent content = read_table(catalogue, table);
  BlockReader reader(catalogue, table.index_end, table.block_end);
  std::string spelled;
  out += ",\n       \"messages\": [";
  for (size_t i = 0; i < content.messages.size(); ++i) {
    const MessageView& m = content.messages[i];
    out += i == 0 ? "\n" : ",\n";
    out += "        {\"id\": " + n(m.id) + ", \"entry_offset\": " + n(m.entry_offset) +
           ", \"text_offset\": " + n(m.text_offset) + ", \"position\": " + n(m.position) +
           ", \"in_block\": " + json_bool(m.in_block) +
           ", \"terminated\": " + json_bool(m.terminated) + ", \"text\": \"";
    shown_pieces(reader, m, [&](std::string_view bytes) {
      spelled.clear();
      json_chars(shown_text(table, bytes), &spelled);
      out += spelled;
    });
    out += "\", \"bytes\": \"";
    // Read again rather than kept: a text may be as large as its block.
    shown_pieces(reader, m, [&](std::string_view bytes) { out += hex_bytes(bytes); });
    out += "\"";
    if (std::optional<std::string> utf8 = decoded(view, table, reader, m)) {
      out += ", \"utf8\": \"" + json_utf8(*utf8) + "\"";
    }
    out += "}";
  }
  out += content.messages.empty() ? "]" : "\n       ]";
}

// One table's JSON object: its record and where its block lies, then its
// messages when they are shown.
void json_table(const OpenCatalogue& catalogue, const TableLayout& table, bool messages,
                Output& out, const Utf8View* view) {
  const TableRecord& record = table.record;
  out += "      {\"table\": " + json_string(catalogue.table_name(table)) +
         ", \"rank\": " + n(table.rank) + ", \"record_offset\": " + n(table.record_offset) +
         ",\n       \"type_key\": " + n(record.type_key) +
         ", \"file_type\": " + n(file_type_of(record.type_key)) +
         ", \"application_type\": " + n(appli_type_of(record.type_key)) +
         ",\n       \"font_file\": " + json_string(field_text(record.font_file, kFontFileWidth)) +
         ", \"coding\": " + n(record.coding) +
         ", \"coding_name\": " + json_string(coding_name(record.coding)) +
         ",\n       \"message_count\": " + n(record.message_count) +
         ", \"index_offset\": " + n(record.index_offset) +
         ", \"index_end\": " + n(table.index_end) + ", \"block_end\": " + n(table.block_end);
  if (messages) json_messages(catalogue, table, out, view);
  out += "}";
}

// One language's JSON object, with its shown tables.
void json_language(const OpenCatalogue& catalogue, const LanguageTables& shown, bool messages,
                   Output& out, const Utf8View* view) {
  const LanguageLayout& language = catalogue.languages[shown.language];
  out += "    {\"language\": " + json_string(field_text(language.entry.language, kLanguageWidth)) +
         ", \"entry_offset\": " + n(language.entry_offset) +
         ", \"table_count\": " + n(language.entry.table_count) +
         ", \"table_offset\": " + n(language.entry.table_offset) + ",\n     \"tables\": [";
  for (size_t t = 0; t < shown.tables.size(); ++t) {
    out += t == 0 ? "\n" : ",\n";
    json_table(catalogue, catalogue.tables[shown.tables[t]], messages, out, view);
  }
  out += shown.tables.empty() ? "]}" : "\n     ]}";
}

void json_problems(const std::vector<Problem>& problems, Output& out) {
  out += ",\n  \"problems\": [";
  for (size_t i = 0; i < problems.size(); ++i) {
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"offset\": " + n(problems[i].offset) +
           ", \"problem\": " + json_string(problems[i].text) + "}";
  }
  out += problems.empty() ? "]" : "\n  ]";
}

}  // namespace

void render_json(const OpenCatalogue& catalogue, const Shown& shown, bool messages,
                 const std::vector<Problem>* problems, Output& out, const Utf8View* view) {
  const MsgFileHeader& header = catalogue.header;
  out += "{\n";
  out += "  \"size\": " + n(catalogue.file_size) + ",\n";
  out += "  \"header\": {\"file_id\": " + n(header.file_id) +
         ", \"version\": " + n(header.version) +
         ", \"name\": " + json_string(field_text(header.name, kNameWidth)) +
         ", \"language_count\": " + n(header.language_count) + "},\n";
  out += "  \"languages\": [";
  for (size_t g = 0; g < shown.size(); ++g) {
    out += g == 0 ? "\n" : ",\n";
    json_language(catalogue, shown[g], messages, out, view);
  }
  out += shown.empty() ? "]" : "\n  ]";
  if (problems != nullptr) json_problems(*problems, out);
  out += "\n}\n";
}

std::string render_summary(const OpenCatalogue& catalogue, const Shown& shown) {
  Output out;
  render_summary(catalogue, shown, out);
  return out.take();
}

std::string render_messages(const OpenCatalogue& catalogue, const Shown& shown) {
  Output out;
  render_messages(catalogue, shown, out);
  return out.take();
}

std::string render_problems(const std::vector<Problem>& problems) {
  Output out;
  render_problems(problems, out);
  return out.take();
}

std::string render_json(const OpenCatalogue& catalogue, const Shown& shown, bool messages,
                        const std::vector<Problem>* problems) {
  Output out;
  render_json(catalogue, shown, messages, problems, out);
  return out.take();
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  json_chars(text, &out);
  return out + "\"";
}

bool Output::flush() {
  if (stream_ != nullptr && !text_.empty()) {
    started_ = true;
    if (std::fwrite(text_.data(), 1, text_.size(), stream_) != text_.size()) failed_ = true;
    text_.clear();
  }
  return !failed_;
}

}  // namespace tolvane::dump
