#include "dump/model.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "dump/escape.h"
#include "msgfile/coding.h"
#include "platform/failure.h"

namespace tolvane::dump {
namespace {

std::string hex4(uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0xF]);
  return out;
}

// Bytes of the terminator that ends a text of this table.
uint64_t terminator_size(const TableView& table) { return table.unicode() ? 2 : 1; }

bool zeros(std::string_view bytes, uint64_t begin, uint64_t end) {
  for (uint64_t i = begin; i < end; ++i) {
    if (bytes[i] != '\0') return false;
  }
  return true;
}

// The first terminator at or after `from` that ends before `limit`: one 0x00
// for byte texts, two in a row for UNICODE texts (whose code units may hold
// 0x00 bytes of their own, so only a pair can end them). Returns `limit` when
// there is none.
uint64_t find_terminator(std::string_view bytes, uint64_t from, uint64_t limit, bool unicode) {
  const char* base = bytes.data();
  uint64_t i = from;
  while (i < limit) {
    const void* hit = std::memchr(base + i, 0, limit - i);
    if (hit == nullptr) return limit;
    i = static_cast<uint64_t>(static_cast<const char*>(hit) - base);
    if (!unicode) return i;
    if (i + 1 < limit && base[i + 1] == '\0') return i;
    ++i;
  }
  return limit;
}

std::string id_text(const MessageView& m) { return "message " + std::to_string(m.id); }

// Decides whether the texts of a table lie back to back so that a source can
// rebuild its block exactly, and if so gives each message its whole text.
void find_exact_layout(const CatalogueView& catalogue, const TableView& table,
                       uint64_t entries_read, TableContent* content) {
  std::vector<MessageView>& messages = content->messages;
  auto fail = [&](std::string reason) {
    content->exact = false;
    content->inexact_reason = std::move(reason);
  };
  const std::string_view bytes = catalogue.bytes;
  const uint64_t count = table.record.message_count;
  if (entries_read < count) return fail("its index runs past the end of the file");
  if (table.block_end > bytes.size()) return fail("its block runs past the end of the file");
  if (table.index_end > table.block_end) return fail("its index runs into the next block");
  if (count == 0) {
    content->exact = true;
    content->texts_end = table.index_end;
    return;
  }
  for (const MessageView& m : messages) {
    if (!m.in_block) return fail("the text of " + id_text(m) + " lies outside its block");
  }
  // Texts in the order they were written: the source order.
  std::vector<size_t> order(messages.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return messages[a].position < messages[b].position; });
  for (size_t k = 1; k < order.size(); ++k) {
    const MessageView& a = messages[order[k - 1]];
    const MessageView& b = messages[order[k]];
    if (a.position == b.position) {
      return fail(id_text(a) + " and " + id_text(b) + " share the text at byte " +
                  std::to_string(a.position));
    }
  }
  if (messages[order[0]].position != table.index_end) {
    return fail("its texts do not begin right after the index");
  }
  // A build pads a block to an even length; a fill byte can only be
  // reproduced when the block's length is even.
  if ((table.block_end - table.block_begin) % 2 != 0) return fail("its block has an odd length");
  const uint64_t term = terminator_size(table);
  auto ends_text = [&](uint64_t begin, uint64_t end) {
    return end >= begin + term && zeros(bytes, end - term, end);
  };
  for (size_t k = 0; k + 1 < order.size(); ++k) {
    const MessageView& m = messages[order[k]];
    if (!ends_text(m.position, messages[order[k + 1]].position)) {
      return fail("the text of " + id_text(m) + " at byte " + std::to_string(m.position) +
                  " does not end in its terminator where the next text begins");
    }
  }
  // The last text ends at the block's end, or one byte before it when that
  // byte is the fill of a block whose texts have an odd length.
  const MessageView& last = messages[order.back()];
  const uint64_t end = table.block_end;
  const bool no_fill = ends_text(last.position, end);
  const bool fill = bytes[end - 1] == '\0' && ends_text(last.position, end - 1);
  if (!no_fill && !fill) {
    return fail("the last text, of " + id_text(last) + " at byte " + std::to_string(last.position) +
                ", does not end in its terminator");
  }
  uint64_t texts_end = fill ? end - 1 : end;
  if (fill && no_fill && table.unicode()) {
    // Either reading rebuilds the block; UNICODE texts are spelled in code
    // units of two bytes, so prefer the one that gives an even length.
    if ((end - term - last.position) % 2 == 0) texts_end = end;
  }
  // The index a build gives: ascending identifiers, equal identifiers in the
  // reverse of their source order.
  for (size_t i = 1; i < messages.size(); ++i) {
    const MessageView& a = messages[i - 1];
    const MessageView& b = messages[i];
    if (a.id > b.id) return fail("its index is not in ascending order");
    if (a.id == b.id && a.position < b.position) {
      return fail("its entries for identifier " + std::to_string(a.id) +
                  " are not in the order a build gives them");
    }
  }
  content->exact = true;
  content->texts_end = texts_end;
  for (size_t k = 0; k < order.size(); ++k) {
    MessageView& m = messages[order[k]];
    uint64_t text_end = (k + 1 < order.size() ? messages[order[k + 1]].position : texts_end) - term;
    m.text = bytes.substr(m.position, text_end - m.position);
    m.terminated = true;
  }
}

}  // namespace

std::string CatalogueView::table_name(const TableView& table) const {
  std::string language;
  if (table.language < languages.size()) {
    language = field_text(languages[table.language].entry.language, kLanguageWidth);
  }
  return language + ":" + std::to_string(table.rank);
}

std::string not_msg_file_reason(std::string_view bytes) {
  if (bytes.empty()) return "the file is empty";
  if (bytes.size() < kHeaderSize) {
    return "the file is cut short: " + std::to_string(bytes.size()) + " bytes, but the header " +
           "alone takes " + std::to_string(kHeaderSize);
  }
  ByteReader in(bytes);
  uint16_t file_id = in.read_u16();
  if (file_id != kFileId) {
    return "not an MSG file: its FILE ID is " + hex4(file_id) + ", not " + hex4(kFileId);
  }
  return "";
}

CatalogueView inspect_catalogue(std::string_view bytes) {
  std::string reason = not_msg_file_reason(bytes);
  if (!reason.empty()) throw InputFailure(reason);

  CatalogueView view;
  view.bytes = bytes;
  const uint64_t size = bytes.size();
  ByteReader in(bytes);
  read_header(in, &view.header);

  const uint64_t language_count = view.header.language_count;
  view.directory_end = kHeaderSize + kLanguageEntrySize * language_count;
  const uint64_t entries_in_file =
      std::min(language_count, (size - kHeaderSize) / kLanguageEntrySize);
  uint64_t tables = 0;
  for (uint64_t i = 0; i < entries_in_file; ++i) {
    LanguageView language;
    language.entry_offset = in.position();
    read_language_entry(in, &language.entry);
    language.records_offset = view.directory_end + kTableRecordSize * tables;
    tables += language.entry.table_count;
    view.languages.push_back(language);
  }
  view.records_wanted = tables;
  view.records_end = view.directory_end + kTableRecordSize * tables;

  // Records are grouped by language in directory order, so the layout alone
  // says which language a record belongs to.
  uint64_t records_in_file =
      view.directory_end >= size ? 0 : (size - view.directory_end) / kTableRecordSize;
  records_in_file = std::min(records_in_file, tables);
  in.seek(view.directory_end);
  size_t language = 0;
  unsigned rank = 0;
  for (uint64_t i = 0; i < records_in_file; ++i) {
    while (rank >= view.languages[language].entry.table_count) {
      ++language;
      rank = 0;
    }
    TableView table;
    table.language = language;
    table.rank = ++rank;
    table.record_offset = in.position();
    read_table_record(in, &table.record);
    view.languages[language].tables.push_back(view.tables.size());
    view.tables.push_back(table);
  }

  // A block runs up to the next non-empty block or to the end of the file.
  std::vector<uint64_t> starts;
  for (const TableView& table : view.tables) {
    if (table.record.message_count > 0) starts.push_back(table.record.index_offset);
  }
  std::sort(starts.begin(), starts.end());
  for (TableView& table : view.tables) {
    table.block_begin = table.record.index_offset;
    table.index_end = table.block_begin + uint64_t{kIndexEntrySize} * table.record.message_count;
    if (table.record.message_count == 0) {
      table.block_end = table.block_begin;
      continue;
    }
    auto next = std::upper_bound(starts.begin(), starts.end(), table.block_begin);
    table.block_end = std::max(next == starts.end() ? size : *next, table.block_begin);
  }
  return view;
}

TableContent read_table(const CatalogueView& catalogue, const TableView& table) {
  TableContent content;
  const std::string_view bytes = catalogue.bytes;
  const uint64_t size = bytes.size();
  const uint64_t begin = table.block_begin;
  const uint64_t in_file = begin >= size ? 0 : (size - begin) / kIndexEntrySize;
  const uint64_t count = std::min<uint64_t>(table.record.message_count, in_file);
  const uint64_t limit = std::min(table.block_end, size);
  content.messages.reserve(count);
  ByteReader in(bytes, begin);
  for (uint64_t i = 0; i < count; ++i) {
    MessageView m;
    m.entry_offset = in.position();
    IndexEntry entry;
    read_index_entry(in, &entry);
    m.id = entry.message_id;
    m.text_offset = entry.text_offset;
    // Offsets are 32-bit values measured from the end of the entry, and wrap
    // like them.
    m.position = static_cast<uint32_t>(in.position() + entry.text_offset);
    m.in_block = m.position >= table.index_end && m.position < limit;
    if (m.in_block) {
      uint64_t end = find_terminator(bytes, m.position, limit, table.unicode());
      m.terminated = end < limit;
      m.text = bytes.substr(m.position, end - m.position);
    }
    content.messages.push_back(m);
  }
  find_exact_layout(catalogue, table, count, &content);
  return content;
}

int find_language(const CatalogueView& catalogue, const std::string& language) {
  char key[kLanguageWidth];
  set_chars(key, kLanguageWidth, language);
  for (size_t i = 0; i < catalogue.languages.size(); ++i) {
    if (std::strncmp(catalogue.languages[i].entry.language, key, kLanguageWidth) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string load_file(FileSystem& fs, const std::string& path) {
  try {
    auto file = fs.Open(path, OpenMode::kRead);
    std::string bytes(file->Size(), '\0');
    bytes.resize(file->ReadAt(0, bytes.data(), bytes.size()));
    file->Close();
    return bytes;
  } catch (const IoError& error) {
    throw InputFailure("cannot read " + path + ": " + std::strerror(error.error()));
  }
}

}  // namespace tolvane::dump
