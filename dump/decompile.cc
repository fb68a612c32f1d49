#include "dump/decompile.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "dump/escape.h"
#include "msgfile/memory_file.h"
#include "msgfile/table_block.h"
#include "names/names_header.h"
#include "platform/failure.h"
#include "platform/file_io.h"
#include "source/source_reader.h"
#include "source/text_encoder.h"

namespace tolvane::dump {
namespace {

bool is_graphic(char c) { return c > ' ' && c < 0x7F; }

// A name fits a #message line when it is one token and holds no double
// quote, which would be taken for the start of the text.
bool usable_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!is_graphic(c) || c == '"') return false;
  }
  return true;
}

// The token a directive line needs to rebuild a fixed-width field: its
// characters up to the first 0x00, which a build pads with zeros again.
// Fails when the field holds anything a token cannot carry.
bool field_token(const char* field, size_t width, std::string* token) {
  size_t length = 0;
  while (length < width && field[length] != '\0') ++length;
  for (size_t i = 0; i < length; ++i) {
    if (!is_graphic(field[i])) return false;
  }
  for (size_t i = length; i < width; ++i) {
    if (field[i] != '\0') return false;
  }
  token->assign(field, length);
  return true;
}

// Builds the table again from `source` with the tool's own reader, encoders
// and index, exactly as a build would, so that a source is only ever handed
// out when it is known to rebuild the table.
class Rebuilder : public MessageHandler {
 public:
  explicit Rebuilder(uint16_t coding) : coding_(coding) {}
  void on_name(int32_t, std::string_view) override {}
  void on_text(int32_t id, std::string_view text) override {
    builder_.add(id, encode_text(text, coding_, &texts_));
  }
  std::string block() const { return builder_.block(texts_); }

 private:
  uint16_t coding_;
  TableBlockBuilder builder_;
  std::string texts_;
};

// Throws an input Failure, `what` first, when `source` does not build the
// table back.
void check_rebuilds(const CatalogueView& catalogue, const TableView& table,
                    const TableContent& content, const std::string& source,
                    const std::string& what) {
  MemoryFile file(source);
  LineReader reader(&file, true);
  TableParameters parameters;
  read_directives(reader, "source", &parameters);

  TableRecord record;
  record.type_key = make_type_key(parameters.file_type, parameters.appli_type);
  set_chars(record.font_file, kFontFileWidth, parameters.font_file);
  record.coding = parameters.coding;
  char language[kLanguageWidth];
  set_chars(language, kLanguageWidth, parameters.language);
  const TableRecord& original = table.record;
  if (record.type_key != original.type_key || record.coding != original.coding ||
      std::memcmp(record.font_file, original.font_file, kFontFileWidth) != 0 ||
      std::memcmp(language, catalogue.languages[table.language].entry.language, kLanguageWidth) !=
          0) {
    throw InputFailure(what +
                       "the directive lines do not give the table's record (please report this)");
  }
  Rebuilder rebuilder(parameters.coding);
  message_pass(reader, "source", rebuilder);
  if (rebuilder.block() != *content.block) {
    throw InputFailure(what +
                       "the #message lines do not give the table's block (please report this)");
  }
}

}  // namespace

NameTable::NameTable(std::string_view header) {
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find('\n', start);
    if (end == std::string_view::npos) end = header.size();
    std::string_view line = header.substr(start, end - start);
    start = end + 1;
    std::string_view name;
    std::optional<int64_t> value = parse_define(line, &name);
    if (!value) continue;
    if (!usable_name(name)) continue;
    const uint16_t id = static_cast<uint16_t>(*value & 0xFFFF);
    if (*value >= 0 && *value <= 0xFFFF) exact_.emplace(id, name);
    low_bits_.emplace(id, name);
    defines_.push_back({std::string(name), *value});
  }
}

const std::string* NameTable::find(uint16_t id) const {
  if (auto it = exact_.find(id); it != exact_.end()) return &it->second;
  if (auto it = low_bits_.find(id); it != low_bits_.end()) return &it->second;
  return nullptr;
}

std::string NameTable::name(uint16_t id) const {
  if (const std::string* known = find(id)) return *known;
  return "MSG_" + std::to_string(id);
}

std::string decompile_table(const CatalogueView& catalogue, const TableView& table,
                            const NameTable& names) {
  const std::string what =
      "table " + catalogue.table_name(table) + " cannot be rebuilt from a " + "message source: ";
  const TableContent content = read_table(catalogue, table);
  if (!content.exact) throw InputFailure(what + content.inexact_reason);
  const TableRecord& record = table.record;
  std::string language;
  if (!field_token(catalogue.languages[table.language].entry.language, kLanguageWidth, &language)) {
    throw InputFailure(what + "its language code cannot be written in a directive line");
  }
  std::string font;
  if (!field_token(record.font_file, kFontFileWidth, &font)) {
    throw InputFailure(what + "its font file cannot be written in a directive line");
  }
  if (record.coding != kUnicodeCoding && record.coding != kByteCoding) {
    throw InputFailure(what + "its coding " + std::to_string(record.coding) +
                       " is none a directive line gives");
  }

  // A directive line without a value is still read as one, with an empty value.
  auto directive = [](const std::string& keyword, const std::string& value) {
    return "// #" + keyword + (value.empty() ? "" : " " + value) + "\n";
  };
  std::string source = directive("LANGUAGE", language) + directive("FONFILE", font) +
                       directive("MSGCODING", table.unicode() ? "UNICODE" : "BYTE") +
                       directive("FILETYPE", hex_digits(file_type_of(record.type_key))) +
                       directive("APPLITYPE", hex_digits(appli_type_of(record.type_key)));

  std::vector<const MessageView*> order;
  for (const MessageView& m : content.messages) order.push_back(&m);
  std::sort(order.begin(), order.end(),
            [](const MessageView* a, const MessageView* b) { return a->position < b->position; });
  for (const MessageView* m : order) {
    source += "#message " + std::to_string(m->id) + " " + names.name(m->id) + " \"" +
              (table.unicode() ? byte_notation(m->text) : c_escape(m->text)) + "\"\n";
  }

  check_rebuilds(catalogue, table, content, source, what);
  return source;
}

}  // namespace tolvane::dump
