// The inspector's catalogue: msgfile/'s model of the header area, and the
// open file, from which each table's block is read when it is shown. Unlike
// a build, which refuses a damaged file at its first fault, the inspector
// reads everything that lies inside the file and leaves judging it to
// check.h, so that a damaged catalogue can still be looked at.
#ifndef TOLVANE_DUMP_MODEL_H_
#define TOLVANE_DUMP_MODEL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "msgfile/catalogue.h"
#include "msgfile/read_buffer.h"
#include "msgfile/records.h"
#include "platform/file_system.h"

namespace tolvane::dump {

// How blocks are read: the largest block read whole, and the window through
// which larger ones are read. Tests make them tiny to walk the windowed path
// over small catalogues.
struct BlockWindows {
  size_t whole_block = size_t{4} << 20;
  size_t large_block_window = size_t{64} << 10;
};

// The model, with the file its blocks are read from and how.
struct OpenCatalogue : Catalogue {
  std::shared_ptr<File> file;
  BlockWindows windows;
};

struct MessageView {
  uint16_t id = 0;
  uint64_t entry_offset = 0;  // where the index entry sits
  uint32_t text_offset = 0;   // as stored: from the end of the entry to the text
  uint64_t position = 0;      // where that puts the text (32-bit arithmetic, as stored)
  bool in_block = false;      // the position lies in the block's texts
  bool terminated = false;    // a terminator follows inside the block
  // The stored text without its terminator is [position, text_end) (empty
  // unless in_block). When the table's texts lie back to back (see
  // TableContent::exact) it is everything up to the next text, 0x00 bytes
  // included; otherwise up to the first terminator, or to the end of the
  // block (or of the file) when there is none. Texts are not held: read them
  // with a BlockReader.
  uint64_t text_end = 0;
  uint64_t text_size() const { return text_end - position; }
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

// Reads the header area of `file`, which stays open for read_table(). Throws
// Failure when the file is no MSG file at all.
OpenCatalogue inspect_catalogue(std::shared_ptr<File> file, BlockWindows windows = {});
// The same on bytes in memory, which must outlive the result.
OpenCatalogue inspect_catalogue(std::string_view bytes, BlockWindows windows = {});

// Reads one table's index and finds where each text ends. The texts are not
// kept: memory is bounded by the index (at most 65535 entries), whatever the
// size of the block or the counts the file claims.
TableContent read_table(const OpenCatalogue& catalogue, const TableLayout& table);

// Reads the bytes of one block: a small block whole, once; a larger one
// through a window, so that a table of any size is shown in bounded memory
// (see the catalogue's BlockWindows).
class BlockReader : public ReadBuffer {
 public:
  BlockReader(const OpenCatalogue& catalogue, uint64_t begin, uint64_t end);

 private:
  // `limit`: within the file; `small`: the block is read whole.
  BlockReader(File& file, uint64_t begin, uint64_t limit, bool small, size_t window);
};

// The text of `m` as one string: for tests and small uses only.
std::string read_text(const OpenCatalogue& catalogue, const TableLayout& table,
                      const MessageView& m);

// Opens a file through `fs` for reading. Throws Failure naming the file on
// errors: an input failure for what is no file, an I/O failure with the
// system's reason when it cannot be opened or read.
std::shared_ptr<File> open_file(FileSystem& fs, const std::string& path);
// Reads a whole (small) file through `fs`, such as a names header.
std::string load_file(FileSystem& fs, const std::string& path);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_MODEL_H_
