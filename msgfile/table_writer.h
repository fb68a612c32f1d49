// The new catalogue file as a run writes it, by its plan: each new table's
// block (index, texts, fill) at its slot, the old file's blocks that stay at
// theirs, and the header area at the start once every block is placed. What
// the format makes of a table (its record, the room its index takes, its
// fill, the 4 GiB its offsets reach) is worked out here alone; the run only
// says what its sources hold.
#ifndef TOLVANE_MSGFILE_TABLE_WRITER_H_
#define TOLVANE_MSGFILE_TABLE_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "msgfile/catalogue_plan.h"
#include "msgfile/table_block.h"
#include "platform/file_io.h"
#include "platform/file_system.h"

namespace tolvane {

// What a source gives its table.
struct NewTable {
  uint32_t type_key = 0;
  std::string font_file;  // cut to the record's width
  uint16_t coding = kByteCoding;
  size_t count = 0;         // texts, at most kMaxCount
  uint64_t text_bytes = 0;  // their bytes, terminators included
};

// When a step's block is written.
enum class BlockTurn {
  kNever,  // a later step takes its place
  kNow,    // its place is known: write it from the texts kept
  kLater,  // its place is known only once later blocks are sized
};

class TableWriter {
 public:
  // `plan` has every step planned; `out` is the new file; `name` is the
  // catalogue as messages show it.
  TableWriter(CataloguePlan& plan, File& out, std::string name);

  // Throws the input Failure that the file would grow past 4 GiB when the
  // steps before `step` already take it there, whatever its table holds.
  void check_room(size_t step) const;

  // Records the table a step adds and sizes its block, which places every
  // block whose place is then known. Throws like check_room() when the
  // block does not fit. Steps are added in order.
  BlockTurn add_table(size_t step, const NewTable& table);

  // Writes the whole block of `step`, from `block`, the index of its texts,
  // and the texts themselves, in source order (the fill is added to them).
  void write_block(size_t step, const TableBlockBuilder& block, std::string& texts);
  // The same with the index already made (block.index_bytes()), on another
  // thread, say, while the texts were read.
  void write_block(size_t step, std::string_view index, std::string_view fill, std::string& texts);

  // For a block whose texts were not kept: where its texts start, to be
  // encoded again there; then finish_block() adds the fill and writes the
  // index in front of them.
  uint64_t texts_position(size_t step) const;
  void finish_block(size_t step, const TableBlockBuilder& block, FileWriter& texts);

  // Copies the old file's blocks that stay, each to its new place, in
  // slices, so that a request to stop is seen during a long copy. A new
  // catalogue has no old file.
  void carry_old_blocks(File* old);

  // Writes the header area, once every block is placed.
  void write_header_area();

 private:
  Failure too_large() const;

  CataloguePlan& plan_;
  File& out_;
  std::string name_;
  std::vector<size_t> counts_;  // per step, once added
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_TABLE_WRITER_H_
