// The header area of a catalogue (header, language directory, table records)
// and how a run rebuilds it with one more table.
#ifndef TOLVANE_MSGFILE_CATALOGUE_H_
#define TOLVANE_MSGFILE_CATALOGUE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "msgfile/catalogue_layout.h"
#include "msgfile/records.h"

namespace tolvane {

// The parsed header area of an existing catalogue.
struct Catalogue {
  MsgFileHeader header;
  std::vector<LanguageEntry> languages;
  // In file order: each table's record, and where its block lies. Taken
  // over from the layout read, not copied: a file of many small tables has
  // a large header area, and fresh memory is what a run on it spends most on.
  std::vector<TableLayout> tables;
  uint64_t file_size = 0;

  // Bytes taken by the header, directory and records.
  uint64_t header_area_size() const {
    return kHeaderSize + uint64_t{kLanguageEntrySize} * languages.size() +
           uint64_t{kTableRecordSize} * tables.size();
  }
};

// Reads the header area of `file`, which messages call `name`, and checks
// the whole file by the rules of catalogue_layout.h. Returns an input
// Failure naming the first way in which the file is damaged (its layout
// cannot be trusted), or nothing. The header is filled in either case, as
// far as the file holds it. Files this tool writes always pass.
std::optional<Failure> read_catalogue(File& file, const std::string& name, Catalogue* catalogue);

// Rank of the language in the directory, compared on its first two
// characters, or -1.
int find_language(const Catalogue& catalogue, const std::string& language);

// The new header area of a run and where things go in the new file.
struct HeaderArea {
  std::string bytes;              // header, directory and records, new one included
  uint64_t record_pos = 0;        // where the new table record sits
  TableRecord new_record;         // message_count still 0
  uint64_t old_blocks_begin = 0;  // old blocks to carry over: [begin, old size)
  uint64_t data_start = 0;        // where the new table's block begins
};

// Lays out the header area with the new table inserted: a new language's
// entry and record come last; a new table of a known language follows that
// language's records. Every offset pointing past an insertion moves by its
// size. Throws an input Failure about the file messages call `name` when
// the result would break the format's limits.
void plan_header_area(const Catalogue& old, const std::string& name, const std::string& language,
                      const TableRecord& new_record, HeaderArea* area);

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_CATALOGUE_H_
