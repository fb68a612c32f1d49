#include "dump/check.h"

#include <algorithm>
#include <map>

#include "dump/escape.h"

namespace tolvane::dump {
namespace {

std::string n(uint64_t value) { return std::to_string(value); }

class Checker {
 public:
  explicit Checker(const CatalogueView& catalogue) : c_(catalogue), size_(catalogue.size()) {}

  std::vector<Problem> run() {
    check_directory();
    check_records();
    check_block_layout();
    for (const TableView& table : c_.tables) check_block(table);
    std::stable_sort(problems_.begin(), problems_.end(),
                     [](const Problem& a, const Problem& b) { return a.offset < b.offset; });
    return std::move(problems_);
  }

 private:
  void add(uint64_t offset, std::string text) { problems_.push_back({offset, std::move(text)}); }

  void check_count(uint64_t value, uint64_t offset, const std::string& what) {
    // Readers of the format take counts as signed 16-bit values.
    if (value > kMaxCount) add(offset, what + " " + n(value) + " is over " + n(kMaxCount));
  }

  void check_directory() {
    check_count(c_.header.language_count, 36, "the language count");
    if (c_.directory_end > size_) {
      add(36, "the language count " + n(c_.header.language_count) +
                  " calls for a directory up to byte " + n(c_.directory_end) +
                  ", past the end of the file at " + n(size_));
    }
    std::map<std::string, uint64_t> seen;
    for (const LanguageView& language : c_.languages) {
      const LanguageEntry& entry = language.entry;
      const std::string code = field_text(entry.language, kLanguageWidth);
      auto [first, inserted] = seen.emplace(code, language.entry_offset);
      if (!inserted) {
        add(language.entry_offset,
            "language \"" + code + "\" appears again (first at byte " + n(first->second) + ")");
      }
      check_count(entry.table_count, language.entry_offset + 2, "the table count");
      if (entry.table_offset != language.records_offset) {
        add(language.entry_offset + 4,
            "the table offset " + n(entry.table_offset) + " of language \"" + code +
                "\" disagrees with where its records are, byte " + n(language.records_offset));
      }
    }
  }

  void check_records() {
    if (c_.directory_end <= size_ && c_.records_end > size_) {
      add(c_.directory_end + kTableRecordSize * c_.tables.size(),
          "the table counts call for " + n(c_.records_wanted) + " records, up to byte " +
              n(c_.records_end) + ", past the end of the file at " + n(size_));
    }
    for (const TableView& table : c_.tables) {
      const std::string name = "table " + c_.table_name(table);
      if (table.record.coding > 1) {
        add(table.record_offset + 36, name + ": the coding " + n(table.record.coding) +
                                          " is neither 0 (UNICODE) nor 1 (byte)");
      }
      check_count(table.record.message_count, table.record_offset + 38,
                  name + ": the message count");
      const uint64_t field = table.record_offset + 40;
      if (table.block_begin < c_.records_end) {
        add(field, name + ": its block at byte " + n(table.block_begin) +
                       " lies inside the header area, which ends at " + n(c_.records_end));
      } else if (table.block_begin > size_) {
        add(field, name + ": its block at byte " + n(table.block_begin) +
                       " lies past the end of the file at " + n(size_));
      } else if (table.index_end > size_) {
        add(field, name + ": its index of " + n(table.record.message_count) +
                       " entries runs to byte " + n(table.index_end) +
                       ", past the end of the file at " + n(size_));
      }
      if (table.block_begin % 2 != 0) {
        add(field, name + ": its block begins at the odd offset " + n(table.block_begin));
      }
    }
  }

  // How the blocks share the data area: no gaps, no overlaps, even ends.
  void check_block_layout() {
    std::vector<const TableView*> blocks;
    for (const TableView& table : c_.tables) {
      if (table.record.message_count > 0) blocks.push_back(&table);
    }
    std::stable_sort(blocks.begin(), blocks.end(), [](const TableView* a, const TableView* b) {
      return a->block_begin < b->block_begin;
    });
    const uint64_t data_begin = std::max(c_.records_end, c_.directory_end);
    if (data_begin < size_ && c_.records_end <= size_) {
      uint64_t first = blocks.empty() ? size_ : blocks.front()->block_begin;
      if (first > data_begin) {
        add(data_begin, n(std::min(first, size_) - data_begin) +
                            " bytes after the table records belong to no table");
      }
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
      const TableView& table = *blocks[i];
      const std::string name = "table " + c_.table_name(table);
      if (i > 0 && blocks[i - 1]->block_begin == table.block_begin) {
        add(table.record_offset + 40, name + ": its block at byte " + n(table.block_begin) +
                                          " is also the block of table " +
                                          c_.table_name(*blocks[i - 1]));
      } else if (table.index_end > table.block_end && table.block_end < size_) {
        add(table.block_end, name + ": its index runs to byte " + n(table.index_end) +
                                 ", into the block that begins at " + n(table.block_end));
      }
      if (table.block_end % 2 != 0 && table.block_end <= size_) {
        add(table.block_end, name + ": its block ends at the odd offset " + n(table.block_end));
      }
    }
  }

  void check_block(const TableView& table) {
    const std::string name = "table " + c_.table_name(table);
    const TableContent content = read_table(c_, table);
    const uint64_t limit = std::min(table.block_end, size_);
    const MessageView* previous = nullptr;
    for (const MessageView& m : content.messages) {
      const std::string message = name + ": message " + n(m.id);
      if (previous != nullptr && previous->id > m.id) {
        add(m.entry_offset, message + " follows message " + n(previous->id) +
                                ": the index is not in ascending order");
      }
      previous = &m;
      if (!m.in_block) {
        add(m.entry_offset + 2,
            message + ": its text offset " + n(m.text_offset) + " points to byte " + n(m.position) +
                ", outside the block's texts at " + n(table.index_end) + ".." + n(limit));
      } else if (!m.terminated) {
        add(m.position, message + ": its text at byte " + n(m.position) +
                            " is not terminated before the block ends at " + n(limit));
      }
    }
  }

  const CatalogueView& c_;
  const uint64_t size_;
  std::vector<Problem> problems_;
};

}  // namespace

std::vector<Problem> check_catalogue(const CatalogueView& catalogue) {
  return Checker(catalogue).run();
}

}  // namespace tolvane::dump
