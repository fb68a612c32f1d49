#include "dump/decompile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "base/failure.h"
#include "msgfile/escape.h"
#include "msgfile/table_block.h"
#include "platform/file_io.h"
#include "source/source_reader.h"
#include "source/text_encoder.h"

namespace tolvane::dump {
namespace {

bool is_graphic(char c) { return c > ' ' && c < 0x7F; }

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

// The source of a table, produced a piece at a time in the order the texts
// lie in the block: the directive lines, then each #message line in pieces
// of at most a window of its text, so that a table of any size is written
// in bounded memory.
class SourceWriter {
 public:
  SourceWriter(const OpenCatalogue& catalogue, const TableLayout& table,
               const std::vector<const MessageView*>& order, const NameTable& names,
               std::string directives, const Utf8View* view = nullptr)
      : table_(table),
        order_(order),
        names_(names),
        reader_(catalogue, table.index_end, table.block_end),
        directives_(std::move(directives)),
        view_(view) {}

  // Appends the next piece to `out`; false once the source is complete.
  bool next(std::string* out) {
    if (!started_) {
      started_ = true;
      *out += directives_;
      return true;
    }
    if (k_ >= order_.size()) return false;
    const MessageView& m = *order_[k_];
    if (at_ == 0) {
      if (std::optional<std::string> utf8 = decoded(m)) *out += "// " + quoted_utf8(*utf8) + "\n";
      *out += "#message " + std::to_string(m.id) + " " + names_.name(m.id) + " \"";
      at_ = m.position;
    }
    const std::string_view bytes = reader_.piece(at_, m.text_end);
    if (!bytes.empty()) {
      *out += table_.unicode() ? byte_notation(bytes) : c_escape(bytes);
      at_ += bytes.size();
      return true;
    }
    // A text the file no longer holds in full ends here too: the check of
    // the rebuilt block then refuses it.
    *out += "\"\n";
    at_ = 0;
    ++k_;
    return true;
  }

 private:
  std::optional<std::string> decoded(const MessageView& m) {
    if (view_ == nullptr || !m.terminated || m.text_size() > Utf8View::kMaxDecoded) {
      return std::nullopt;
    }
    std::string bytes;
    for (uint64_t at = m.position; at < m.text_end;) {
      const std::string_view piece = reader_.piece(at, m.text_end);
      if (piece.empty()) return std::nullopt;
      bytes.append(piece);
      at += piece.size();
    }
    return view_->utf8(bytes, table_.unicode());
  }

  const TableLayout& table_;
  const std::vector<const MessageView*>& order_;
  const NameTable& names_;
  BlockReader reader_;
  std::string directives_;
  const Utf8View* view_;
  bool started_ = false;
  size_t k_ = 0;     // the message being written
  uint64_t at_ = 0;  // where its text goes on, or 0 before its line begins
};

// The source as a File, so that the tool's own source reader reads it as a
// build would, without it ever being held whole. Read in order only.
class SourceFile : public File {
 public:
  explicit SourceFile(SourceWriter* writer) : writer_(writer) {}
  size_t read_at(uint64_t, void* buf, size_t n) override {
    while (pending_.size() < n && writer_->next(&pending_)) {
    }
    n = std::min(n, pending_.size());
    std::memcpy(buf, pending_.data(), n);
    pending_.erase(0, n);
    return n;
  }
  void write_at(uint64_t, const void*, size_t) override { throw IoError("write", "", EBADF); }
  uint64_t size() override { return 0; }
  void sync() override {}
  void close() override {}

 private:
  SourceWriter* writer_;
  std::string pending_;  // made but not yet read
};

// Builds the table again from the source with the tool's own reader,
// encoders and index, exactly as a build would, and compares each text with
// the stored one as it comes, so that a source is only ever handed out when
// it is known to rebuild the table.
class Rebuilder : public MessageHandler {
 public:
  Rebuilder(const OpenCatalogue& catalogue, const TableLayout& table)
      : table_(table), reader_(catalogue, table.index_end, table.block_end) {}
  void on_name(int32_t, std::string_view, std::string_view) override {}
  void on_text(int32_t id, std::string_view text) override {
    encoded_.clear();
    const uint32_t length = encode_text(text, table_.record.coding, &encoded_);
    same_ = same_ && matches(table_.index_end + builder_.texts_size(), encoded_);
    builder_.add(id, length);
  }
  // Whether the index and fill built agree with the file too.
  bool same_block(const OpenCatalogue& catalogue) {
    const uint64_t texts_end = table_.index_end + builder_.texts_size();
    if (!same_ || builder_.count() != table_.record.message_count ||
        texts_end + builder_.fill().size() != table_.block_end ||
        !matches(texts_end, std::string(builder_.fill()))) {
      return false;
    }
    const std::string index = builder_.index_bytes();
    std::string stored(index.size(), '\0');
    stored.resize(catalogue.file->read_at(table_.block_begin, stored.data(), stored.size()));
    return stored == index;
  }

 private:
  bool matches(uint64_t at, std::string_view bytes) {
    if (at + bytes.size() > table_.block_end) return false;
    while (!bytes.empty()) {
      const std::string_view stored = reader_.piece(at, at + bytes.size());
      if (stored.empty() || bytes.substr(0, stored.size()) != stored) return false;
      bytes.remove_prefix(stored.size());
      at += stored.size();
    }
    return true;
  }

  const TableLayout& table_;
  BlockReader reader_;
  TableBlockBuilder builder_;
  std::string encoded_;
  bool same_ = true;
};

// Throws an input Failure, `what` first, when the source `writer` makes
// does not build the table back.
void check_rebuilds(const OpenCatalogue& catalogue, const TableLayout& table, SourceWriter* writer,
                    const std::string& what) {
  SourceFile file(writer);
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
    throw input_failure(what +
                        "the directive lines do not give the table's record (please report this)");
  }
  Rebuilder rebuilder(catalogue, table);
  message_pass(reader, "source", rebuilder);
  if (!rebuilder.same_block(catalogue)) {
    throw input_failure(what +
                        "the #message lines do not give the table's block (please report this)");
  }
}

}  // namespace

void decompile_table(const OpenCatalogue& catalogue, const TableLayout& table,
                     const NameTable& names, Output& out, const Utf8View* view) {
  const std::string what =
      "table " + catalogue.table_name(table) + " cannot be rebuilt from a " + "message source: ";
  const TableContent content = read_table(catalogue, table);
  if (!content.exact) throw input_failure(what + content.inexact_reason);
  const TableRecord& record = table.record;
  std::string language;
  if (!field_token(catalogue.languages[table.language].entry.language, kLanguageWidth, &language)) {
    throw input_failure(what + "its language code cannot be written in a directive line");
  }
  std::string font;
  if (!field_token(record.font_file, kFontFileWidth, &font)) {
    throw input_failure(what + "its font file cannot be written in a directive line");
  }
  if (record.coding != kUnicodeCoding && record.coding != kByteCoding) {
    throw input_failure(what + "its coding " + std::to_string(record.coding) +
                        " is none a directive line gives");
  }

  // A directive line without a value is still read as one, with an empty value.
  auto directive = [](const std::string& keyword, const std::string& value) {
    return "// #" + keyword + (value.empty() ? "" : " " + value) + "\n";
  };
  const std::string directives = directive("LANGUAGE", language) + directive("FONFILE", font) +
                                 directive("MSGCODING", table.unicode() ? "UNICODE" : "BYTE") +
                                 directive("FILETYPE", hex_digits(file_type_of(record.type_key))) +
                                 directive("APPLITYPE", hex_digits(appli_type_of(record.type_key)));

  std::vector<const MessageView*> order;
  for (const MessageView& m : content.messages) order.push_back(&m);
  std::sort(order.begin(), order.end(),
            [](const MessageView* a, const MessageView* b) { return a->position < b->position; });

  // The source is made twice, the same way: once to rebuild the table from
  // it, then, only when that gave the table back, to write it out.
  SourceWriter check(catalogue, table, order, names, directives);
  check_rebuilds(catalogue, table, &check, what);
  SourceWriter writer(catalogue, table, order, names, directives, view);
  std::string piece;
  while (writer.next(&piece)) {
    out << piece;
    piece.clear();
  }
}

std::string decompile_table(const OpenCatalogue& catalogue, const TableLayout& table,
                            const NameTable& names) {
  Output out;
  decompile_table(catalogue, table, names, out);
  return out.take();
}

}  // namespace tolvane::dump
