#include "msgfile/catalogue_layout.h"

#include <algorithm>
#include <map>
#include <optional>

#include "msgfile/escape.h"
#include "msgfile/read_buffer.h"

namespace tolvane {
namespace {

std::string n(uint64_t value) { return std::to_string(value); }
std::string at(uint64_t offset) { return " at byte " + n(offset); }

// Where the last terminator of the texts [begin, limit) begins: one 0x00 for
// byte texts, two in a row for UNICODE texts (whose code units may hold 0x00
// bytes of their own). A text starting at p in that range is terminated
// before `limit` exactly when p is at most this. Returns nothing when there
// is no terminator. Reads backwards from `limit`, a little first: the texts
// of a sound block end right there.
std::optional<uint64_t> last_terminator(ReadBuffer& in, uint64_t begin, uint64_t limit,
                                        bool unicode) {
  bool zero_after = false;  // the byte after the current one is a 0x00 before `limit`
  size_t step = 4096;
  for (uint64_t end = limit; end > begin;) {
    const uint64_t chunk = std::max<uint64_t>(begin, end > step ? end - step : 0);
    const std::string_view bytes = in.view(chunk, static_cast<size_t>(end - chunk));
    for (size_t i = bytes.size(); i-- > 0;) {
      const bool zero = bytes[i] == '\0';
      if (zero && (!unicode || zero_after)) return chunk + i;
      zero_after = zero;
    }
    if (bytes.size() < end - chunk) return std::nullopt;  // the file shrank meanwhile
    end = chunk;
    step = in.window();
  }
  return std::nullopt;
}

class Rules {
 public:
  Rules(File& file, const Catalogue& layout, const std::function<bool(const Damage&)>& report)
      : c_(layout), size_(layout.file_size), in_(file, layout.file_size), report_(report) {}

  void run() {
    if (directory() && records() && block_layout()) blocks();
  }

 private:
  // Hands one problem on; false once the caller wants no more.
  bool add(uint64_t offset, std::string text, std::string refusal = "") {
    if (refusal.empty()) refusal = text + at(offset);
    if (!go_on_) return false;
    go_on_ = report_({offset, std::move(text), std::move(refusal)});
    return go_on_;
  }

  // Readers of the format take counts as signed 16-bit values.
  bool count(uint64_t value, uint64_t offset, const std::string& prefix, const std::string& what) {
    if (value <= kMaxCount) return true;
    const std::string problem = what + " " + n(value) + " is over " + n(kMaxCount);
    return add(offset, prefix + problem, problem + at(offset));
  }

  bool directory() {
    if (!count(c_.header.language_count, kHeaderLanguageCountAt, "", "the language count")) {
      return false;
    }
    if (c_.directory_end > size_ &&
        !add(kHeaderLanguageCountAt,
             "the language count " + n(c_.header.language_count) +
                 " calls for a directory up to byte " + n(c_.directory_end) +
                 ", past the end of the file at " + n(size_),
             "the language directory does not fit in the file")) {
      return false;
    }
    std::map<std::string, uint64_t> seen;
    for (const LanguageLayout& language : c_.languages) {
      const LanguageEntry& entry = language.entry;
      const uint64_t at_entry = language.entry_offset;
      const std::string code = field_text(entry.language, kLanguageWidth);
      auto [first, inserted] = seen.emplace(code, at_entry);
      if (!inserted && !add(at_entry, "language \"" + code + "\" appears again (first at byte " +
                                          n(first->second) + ")")) {
        return false;
      }
      if (!count(entry.table_count, at_entry + kEntryTableCountAt, "", "the table count")) {
        return false;
      }
      if (entry.table_offset != language.records_offset &&
          !add(at_entry + kEntryTableOffsetAt,
               "the table offset " + n(entry.table_offset) + " of language \"" + code +
                   "\" disagrees with where its records are, byte " + n(language.records_offset),
               "the table offset " + n(entry.table_offset) + " disagrees with the records' place " +
                   n(language.records_offset) + at(at_entry + kEntryTableOffsetAt))) {
        return false;
      }
    }
    return true;
  }

  bool records() {
    if (c_.directory_end <= size_ && c_.records_end > size_ &&
        !add(c_.directory_end + kTableRecordSize * c_.tables.size(),
             "the table counts call for " + n(c_.records_wanted) + " records, up to byte " +
                 n(c_.records_end) + ", past the end of the file at " + n(size_),
             "the table records do not fit in the file")) {
      return false;
    }
    for (const TableLayout& table : c_.tables) {
      // Texts are only made for problems: sound records cost no strings.
      auto name = [&] { return "table " + c_.table_name(table) + ": "; };
      const TableRecord& record = table.record;
      if (record.coding != kUnicodeCoding && record.coding != kByteCoding &&
          !add(table.record_offset + kRecordCodingAt, name() + "the coding " + n(record.coding) +
                                                          " is neither 0 (UNICODE) nor 1 (byte)")) {
        return false;
      }
      if (record.message_count > kMaxCount &&
          !count(record.message_count, table.record_offset + kRecordMessageCountAt, name(),
                 "the message count")) {
        return false;
      }
      const uint64_t field = table.record_offset + kRecordIndexOffsetAt;
      auto outside = [&] {
        return "the table block at " + n(table.block_begin) + " lies outside the file's blocks" +
               at(field);
      };
      bool placed = true;
      if (table.block_begin < c_.records_end) {
        placed = add(field,
                     name() + "its block at byte " + n(table.block_begin) +
                         " lies inside the header area, which ends at " + n(c_.records_end),
                     outside());
      } else if (table.block_begin > size_) {
        placed = add(field,
                     name() + "its block at byte " + n(table.block_begin) +
                         " lies past the end of the file at " + n(size_),
                     outside());
      } else if (table.index_end > size_) {
        placed = add(field,
                     name() + "its index of " + n(record.message_count) + " entries runs to byte " +
                         n(table.index_end) + ", past the end of the file at " + n(size_),
                     outside());
      }
      if (!placed) return false;
      if (table.block_begin % 2 != 0 &&
          !add(field, name() + "its block begins at the odd offset " + n(table.block_begin))) {
        return false;
      }
    }
    return true;
  }

  // How the blocks share the data area: no gaps, no overlaps, even ends.
  bool block_layout() {
    blocks_.reserve(c_.tables.size());
    for (const TableLayout& table : c_.tables) {
      if (table.record.message_count > 0) blocks_.push_back(&table);
    }
    // Usually in order already (a catalogue of one language, or languages
    // added in turn), and then the sort's buffer is not worth taking.
    const auto by_begin = [](const TableLayout* a, const TableLayout* b) {
      return a->block_begin < b->block_begin;
    };
    if (!std::is_sorted(blocks_.begin(), blocks_.end(), by_begin)) {
      std::stable_sort(blocks_.begin(), blocks_.end(), by_begin);
    }
    const uint64_t data_begin = std::max(c_.records_end, c_.directory_end);
    if (data_begin < size_ && c_.records_end <= size_) {
      const uint64_t first = blocks_.empty() ? size_ : blocks_.front()->block_begin;
      if (first > data_begin &&
          !add(data_begin, n(std::min(first, size_) - data_begin) +
                               " bytes after the table records belong to no table")) {
        return false;
      }
    }
    for (size_t i = 0; i < blocks_.size(); ++i) {
      const TableLayout& table = *blocks_[i];
      auto name = [&] { return "table " + c_.table_name(table) + ": "; };
      if (i > 0 && blocks_[i - 1]->block_begin == table.block_begin) {
        if (!add(table.record_offset + kRecordIndexOffsetAt,
                 name() + "its block at byte " + n(table.block_begin) +
                     " is also the block of table " + c_.table_name(*blocks_[i - 1]))) {
          return false;
        }
      } else if (table.index_end > table.block_end && table.block_end < size_) {
        if (!add(table.block_end, name() + "its index runs to byte " + n(table.index_end) +
                                      ", into the block that begins at " + n(table.block_end))) {
          return false;
        }
      }
      if (table.block_end % 2 != 0 && table.block_end <= size_) {
        // The header area and every block have even sizes: an odd end has
        // lost or gained bytes, and a new block behind it would start at an
        // odd offset.
        const std::string text = name() + "its block ends at the odd offset " + n(table.block_end);
        if (!add(table.block_end, text,
                 table.block_end == size_ ? "the file's size " + n(size_) + " is odd" : "")) {
          return false;
        }
      }
    }
    return true;
  }

  // Inside each block, in the order the blocks lie: the index sorted, every
  // text inside its block's texts and terminated before the block ends.
  void blocks() {
    for (const TableLayout* table : blocks_) {
      const uint64_t begin = table->block_begin;
      const uint64_t in_file = begin >= size_ ? 0 : (size_ - begin) / kIndexEntrySize;
      const uint64_t count = std::min<uint64_t>(table->record.message_count, in_file);
      const uint64_t limit = std::min(table->block_end, size_);
      // The end of the texts first, then the index straight from the window:
      // a large table's entries are walked where they lie, never copied.
      const std::optional<uint64_t> last =
          table->index_end < limit ? last_terminator(in_, table->index_end, limit, table->unicode())
                                   : std::nullopt;
      // A text starting past the last terminator has none (every text, when
      // there is no terminator at all).
      const uint64_t unterminated_from = last ? *last + 1 : 0;
      const std::string_view index = in_.view(begin, static_cast<size_t>(count * kIndexEntrySize));
      const uint64_t whole = index.size() / kIndexEntrySize;
      // A sound index is walked in one tight loop; the entries are looked at
      // one by one, to name what is wrong, only from the first that breaks a
      // rule on.
      const uint64_t texts_end = last ? *last : 0;
      uint64_t sound = 0;
      for (uint16_t before = 0; sound < whole; ++sound) {
        const IndexEntry entry = decode_index_entry(index.data() + sound * kIndexEntrySize);
        const uint64_t position =
            static_cast<uint32_t>(begin + (sound + 1) * kIndexEntrySize + entry.text_offset);
        if (entry.message_id < before || position < table->index_end || position >= limit ||
            !last || position > texts_end) {
          break;
        }
        before = entry.message_id;
      }
      std::optional<uint16_t> previous;
      if (sound > 0) {
        previous = decode_index_entry(index.data() + (sound - 1) * kIndexEntrySize).message_id;
      }
      for (uint64_t i = sound; i < whole; ++i) {
        const IndexEntry entry = decode_index_entry(index.data() + i * kIndexEntrySize);
        const uint16_t id = entry.message_id;
        const uint64_t entry_offset = begin + i * kIndexEntrySize;
        // Offsets are 32-bit values measured from the end of the entry, and
        // wrap like them.
        const uint64_t position =
            static_cast<uint32_t>(entry_offset + kIndexEntrySize + entry.text_offset);
        // Texts are only made for problems: a sound index costs no strings.
        auto message = [&] { return "table " + c_.table_name(*table) + ": message " + n(id); };
        if (previous && *previous > id &&
            !add(entry_offset, message() + " follows message " + n(*previous) +
                                   ": the index is not in ascending order")) {
          return;
        }
        previous = id;
        const bool in_block = position >= table->index_end && position < limit;
        if (!in_block) {
          if (!add(entry_offset + kIndexTextOffsetAt,
                   message() + ": its text offset " + n(entry.text_offset) + " points to byte " +
                       n(position) + ", outside the block's texts at " + n(table->index_end) +
                       ".." + n(limit))) {
            return;
          }
        } else if (position >= unterminated_from &&
                   !add(position, message() + ": its text at byte " + n(position) +
                                      " is not terminated before the block ends at " + n(limit))) {
          return;
        }
      }
    }
  }

  const Catalogue& c_;
  const uint64_t size_;
  ReadBuffer in_;
  const std::function<bool(const Damage&)>& report_;
  bool go_on_ = true;
  std::vector<const TableLayout*> blocks_;  // non-empty tables, by where their block begins
};

}  // namespace

namespace {

// The language directory, as far as the file holds it; each entry with where
// its records are by the layout.
void read_directory(ReadBuffer& in, Catalogue* c) {
  const uint64_t language_count = c->header.language_count;
  c->directory_end = kHeaderSize + kLanguageEntrySize * language_count;
  const uint64_t entries_in_file =
      std::min(language_count, (c->file_size - kHeaderSize) / kLanguageEntrySize);
  ByteReader directory(
      in.view(kHeaderSize, static_cast<size_t>(entries_in_file * kLanguageEntrySize)));
  uint64_t tables = 0;
  for (uint64_t i = 0; i < entries_in_file; ++i) {
    LanguageLayout language;
    language.entry_offset = kHeaderSize + directory.position();
    read_language_entry(directory, &language.entry);
    language.records_offset = c->directory_end + kTableRecordSize * tables;
    tables += language.entry.table_count;
    c->languages.push_back(language);
  }
  c->records_wanted = tables;
  c->records_end = c->directory_end + kTableRecordSize * tables;
}

// The table records the counts call for, as far as the file holds them.
// Records are grouped by language in directory order, so the layout alone
// says which language a record belongs to.
void read_records(ReadBuffer& in, Catalogue* c) {
  const uint64_t size = c->file_size;
  uint64_t records_in_file =
      c->directory_end >= size ? 0 : (size - c->directory_end) / kTableRecordSize;
  records_in_file = std::min(records_in_file, c->records_wanted);
  // Through the window, not in one piece: tens of thousands of records would
  // otherwise take a buffer as large as the header area on top of the layout.
  c->tables.reserve(records_in_file);
  uint32_t language = 0;
  unsigned rank = 0;
  for (uint64_t i = 0; i < records_in_file; ++i) {
    while (rank >= c->languages[language].entry.table_count) {
      ++language;
      rank = 0;
    }
    if (rank == 0) c->languages[language].first_table = c->tables.size();
    TableLayout table;
    table.language = language;
    table.rank = ++rank;
    table.record_offset = c->directory_end + i * kTableRecordSize;
    ByteReader record(in.view(table.record_offset, kTableRecordSize));
    read_table_record(record, &table.record);
    ++c->languages[language].tables_in_file;
    c->tables.push_back(table);
  }
}

// A block runs up to the next non-empty block or to the end of the file.
void place_blocks(Catalogue* c) {
  std::vector<uint64_t> starts;
  starts.reserve(c->tables.size());
  for (const TableLayout& table : c->tables) {
    if (table.record.message_count > 0) starts.push_back(table.record.index_offset);
  }
  if (!std::is_sorted(starts.begin(), starts.end())) std::sort(starts.begin(), starts.end());
  for (TableLayout& table : c->tables) {
    table.block_begin = table.record.index_offset;
    table.index_end = table.block_begin + uint64_t{kIndexEntrySize} * table.record.message_count;
    if (table.record.message_count == 0) {
      table.block_end = table.block_begin;
      continue;
    }
    auto next = std::upper_bound(starts.begin(), starts.end(), table.block_begin);
    table.block_end = std::max(next == starts.end() ? c->file_size : *next, table.block_begin);
  }
}

}  // namespace

Catalogue read_layout(File& file) {
  Catalogue c;
  c.file_size = file.size();
  ReadBuffer in(file, c.file_size);
  ByteReader header(in.view(0, kHeaderSize));
  read_header(header, &c.header);
  c.header_complete = !header.overran();
  if (!c.header_complete) return c;
  read_directory(in, &c);
  read_records(in, &c);
  place_blocks(&c);
  return c;
}

void find_damage(File& file, const Catalogue& layout,
                 const std::function<bool(const Damage&)>& report) {
  Rules(file, layout, report).run();
}

}  // namespace tolvane
