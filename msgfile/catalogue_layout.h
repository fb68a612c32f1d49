// Where everything in a catalogue lies, and the one set of rules that says
// whether that layout can be trusted.
//
// read_layout() reads the header area of any file, damaged or not, as far as
// the file holds it. find_damage() then walks the rules in the order a reader
// meets the fields: header, language directory, table records, how the
// blocks share the data area, and inside each block its index and texts. A
// build stops at the first problem; the inspector lists them all. Both read
// the file in large sequential pieces: the header area at once, then each
// block's index and the end of its texts through one moving window.
#ifndef TOLVANE_MSGFILE_CATALOGUE_LAYOUT_H_
#define TOLVANE_MSGFILE_CATALOGUE_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "msgfile/records.h"
#include "platform/file_system.h"

namespace tolvane {

struct LanguageLayout {
  LanguageEntry entry;
  uint64_t entry_offset = 0;
  // Where this language's records are by the file's layout (records grouped
  // by language in directory order); entry.table_offset should say the same.
  uint64_t records_offset = 0;
  std::vector<size_t> tables;  // indexes into CatalogueLayout::tables
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

struct CatalogueLayout {
  MsgFileHeader header;
  uint64_t file_size = 0;
  bool header_complete = false;           // the file holds the whole header
  uint64_t directory_end = 0;             // 38 + 8 x language_count
  uint64_t records_end = 0;               // end of the table records the counts call for
  uint64_t records_wanted = 0;            // sum of the table counts of the entries read
  std::vector<LanguageLayout> languages;  // the entries that lie in the file
  std::vector<TableLayout> tables;        // the records that lie in the file, in file order

  uint64_t size() const { return file_size; }
  // "EN:2"
  std::string table_name(const TableLayout& table) const;
};

// Reads the header area in large reads. Never fails on content: a field the
// file does not hold is left out (see header_complete, languages, tables).
CatalogueLayout read_layout(File& file);

// Rank of the first entry whose language equals `language`, compared as C
// strings over at most two characters (as a build matches them), or -1.
int find_language(const std::vector<LanguageEntry>& entries, const std::string& language);
int find_language(const CatalogueLayout& layout, const std::string& language);

// One way in which a catalogue breaks the format.
struct Damage {
  uint64_t offset = 0;  // the byte (usually a field) where the problem shows
  std::string text;     // how the inspector lists it
  std::string refusal;  // how a build names it when it refuses the file
};

// Walks every rule over a layout read from `file` and hands each problem to
// `report`, in the order met; stops as soon as `report` returns false. The
// header must be complete. Files a build writes have no problem.
void find_damage(File& file, const CatalogueLayout& layout,
                 const std::function<bool(const Damage&)>& report);

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_CATALOGUE_LAYOUT_H_
