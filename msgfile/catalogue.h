// A catalogue's header area as one model: the header, the language
// directory and the table records, each table with where its block lies.
// The build reads it to add its tables, the inspector to show and judge a
// file; catalogue_layout.h reads it from a file and holds the rules that say
// whether it can be trusted.
#ifndef TOLVANE_MSGFILE_CATALOGUE_H_
#define TOLVANE_MSGFILE_CATALOGUE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "msgfile/records.h"
#include "platform/file_system.h"

namespace tolvane {

struct LanguageLayout {
  LanguageEntry entry;
  uint64_t entry_offset = 0;
  // Where this language's records are by the file's layout (records grouped
  // by language in directory order); entry.table_offset should say the same.
  uint64_t records_offset = 0;
  // Its records that lie in the file: Catalogue::tables [first_table,
  // first_table + tables_in_file), in rank order.
  size_t first_table = 0;
  size_t tables_in_file = 0;
};

struct TableLayout {
  uint32_t language = 0;  // rank of its language in the directory
  uint32_t rank = 0;      // rank within its language, counting from 1
  uint64_t record_offset = 0;
  TableRecord record;
  // The block: index [block_begin, index_end), texts [index_end, block_end).
  // A block ends where the next non-empty block begins, or at the end of the
  // file; an empty table's block is empty. Values may lie past the file.
  uint64_t block_begin = 0;
  uint64_t index_end = 0;
  uint64_t block_end = 0;
  bool unicode() const { return record.coding == kUnicodeCoding; }
};

struct Catalogue {
  MsgFileHeader header;
  uint64_t file_size = 0;
  bool header_complete = false;           // the file holds the whole header
  uint64_t directory_end = 0;             // 38 + 8 x language_count
  uint64_t records_end = 0;               // end of the table records the counts call for
  uint64_t records_wanted = 0;            // sum of the table counts of the entries read
  std::vector<LanguageLayout> languages;  // the entries that lie in the file
  std::vector<TableLayout> tables;        // the records that lie in the file, in file order

  // Bytes taken by the header, directory and records.
  uint64_t header_area_size() const {
    return kHeaderSize + uint64_t{kLanguageEntrySize} * languages.size() +
           uint64_t{kTableRecordSize} * tables.size();
  }
  // "EN:2"
  std::string table_name(const TableLayout& table) const;
};

// Rank of the first language whose code equals `language`, compared as C
// strings over at most two characters (as a build matches them), or -1.
int find_language(const Catalogue& catalogue, const std::string& language);

// Reads the header area of `file`, which messages call `name`, and checks
// the whole file by the rules of catalogue_layout.h. Returns an input
// Failure naming the first way in which the file is damaged (its layout
// cannot be trusted), or nothing. The header is filled in either case, as
// far as the file holds it. Files this tool writes always pass.
std::optional<Failure> read_catalogue(File& file, const std::string& name, Catalogue* catalogue);

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_CATALOGUE_H_
