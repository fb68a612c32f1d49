// Reads a whole MSG catalogue into a model for inspection. Unlike a build,
// which refuses a damaged file at its first fault, the inspector reads
// everything that lies inside the file and leaves judging it to check.h, so
// that a damaged catalogue can still be looked at.
#ifndef TOLVANE_DUMP_MODEL_H_
#define TOLVANE_DUMP_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "msgfile/records.h"
#include "platform/file_system.h"

namespace tolvane::dump {

struct LanguageView {
  LanguageEntry entry;
  uint64_t entry_offset = 0;
  // Where this language's records are by the file's layout (records grouped
  // by language in directory order); entry.table_offset should say the same.
  uint64_t records_offset = 0;
  std::vector<size_t> tables;  // indexes into CatalogueView::tables
};

struct TableView {
  size_t language = 0;  // rank of its language in the directory
  unsigned rank = 0;    // rank within its language, counting from 1
  uint64_t record_offset = 0;
  TableRecord record;
  // The block: index [block_begin, index_end), texts [index_end, block_end).
  // A block ends where the next non-empty block begins, or at the end of the
  // file; an empty table's block is empty. Values may lie past the file.
  uint64_t block_begin = 0;
  uint64_t index_end = 0;
  uint64_t block_end = 0;
  bool unicode() const { return record.coding == 0; }
};

struct CatalogueView {
  std::string_view bytes;  // the whole file
  MsgFileHeader header;
  uint64_t directory_end = 0;           // 38 + 8 x language_count
  uint64_t records_end = 0;             // end of the table records the counts call for
  uint64_t records_wanted = 0;          // sum of the table counts of the entries read
  std::vector<LanguageView> languages;  // the entries that lie in the file
  std::vector<TableView> tables;        // the records that lie in the file, in file order

  uint64_t size() const { return bytes.size(); }
  // "EN:2"
  std::string table_name(const TableView& table) const;
};

struct MessageView {
  uint16_t id = 0;
  uint64_t entry_offset = 0;  // where the index entry sits
  uint32_t text_offset = 0;   // as stored: from the end of the entry to the text
  uint64_t position = 0;      // where that puts the text (32-bit arithmetic, as stored)
  bool in_block = false;      // the position lies in the block's texts
  bool terminated = false;    // a terminator follows inside the block
  // The stored text without its terminator. When the table's texts lie back
  // to back (see TableContent::exact) this is everything up to the next text,
  // 0x00 bytes included; otherwise up to the first terminator, or to the end
  // of the block when there is none.
  std::string_view text;
};

struct TableContent {
  std::vector<MessageView> messages;  // index order; only entries inside the file
  // True when the texts fill the block's text area back to back in some
  // order, each ending in its terminator, and the index is exactly what a
  // build of them in that order gives: then a source rebuilds the block.
  bool exact = false;
  std::string inexact_reason;  // why not, when !exact
  uint64_t texts_end = 0;      // when exact: end of the last text (a fill byte may follow)
};

// A description of why `bytes` is no MSG file at all (too short for a header
// or a wrong FILE ID), or empty when it is one.
std::string not_msg_file_reason(std::string_view bytes);

// Reads the header area. Throws Failure when not_msg_file_reason() says so.
// `bytes` must outlive the result.
CatalogueView inspect_catalogue(std::string_view bytes);

// Reads one table's index entries and texts. Memory is bounded by the
// entries inside the file, never by the counts the file claims.
TableContent read_table(const CatalogueView& catalogue, const TableView& table);

// Languages are compared on their first two characters, as a build does.
// Returns the rank of the first matching entry, or -1.
int find_language(const CatalogueView& catalogue, const std::string& language);

// Reads a whole file through `fs`. Throws Failure naming the file on errors.
std::string load_file(FileSystem& fs, const std::string& path);

// Runs every mode of the inspector on an in-memory file and discards the
// output: the entry point for fuzzing. Never throws; returns 0.
int dump_fuzz_one(const uint8_t* data, size_t size);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_MODEL_H_
