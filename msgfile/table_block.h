// A table block, as a build writes it and every reader expects it:
//
//   index  one 6-byte entry per text: the identifier (u16, its low 16 bits),
//          then the distance (u32) from the end of the entry to its text.
//          Ascending unsigned identifiers; equal identifiers in the reverse
//          of their source order (a lookup finds the last one written).
//   texts  back to back, in source order, each ending in its terminator: one
//          0x00, or two in a UNICODE table.
//   fill   one 0x00 when the texts' total length is odd, so that the block,
//          which starts at an even offset and whose index has an even size,
//          also ends at one.
//
// Offsets are relative, so a block moves through the file unchanged. Its
// texts are written as they are read, right behind the room the index will
// take; the index's order is known only once the last text is in, so the
// builder gives the index and the fill at the end.
#ifndef TOLVANE_MSGFILE_TABLE_BLOCK_H_
#define TOLVANE_MSGFILE_TABLE_BLOCK_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "msgfile/records.h"

namespace tolvane {

// The index: one entry per text, in source order while the texts are
// written, sorted by identifier at the end.
class MessageIndex {
 public:
  // Records a text of `length` bytes (terminator included) stored right after
  // the previous one.
  void add(int32_t id, uint32_t length) {
    entries_.push_back({static_cast<uint16_t>(id), next_offset_});
    next_offset_ += length;
  }
  void reserve(size_t count) { entries_.reserve(count); }
  size_t count() const { return entries_.size(); }
  // Bytes of all texts so far.
  uint32_t texts_size() const { return next_offset_; }

  // The entries as the file holds them: ascending unsigned identifiers, equal
  // identifiers in the reverse of their source order, each offset measured
  // from the end of its own entry to its text.
  std::vector<IndexEntry> sorted() const;

 private:
  std::vector<IndexEntry> entries_;  // text_offset from the start of the texts
  uint32_t next_offset_ = 0;
};

// The fill after texts of `text_bytes` bytes in all: one byte when odd.
inline uint64_t fill_size(uint64_t text_bytes) { return text_bytes % 2; }
// Bytes of a whole block of `count` texts of `text_bytes` bytes in all:
// index, texts and fill.
inline uint64_t block_size(size_t count, uint64_t text_bytes) {
  return uint64_t{kIndexEntrySize} * count + text_bytes + fill_size(text_bytes);
}

class TableBlockBuilder {
 public:
  void reserve(size_t count) { index_.reserve(count); }
  // Records a text of `length` bytes (terminator included) stored right after
  // the previous one.
  void add(int32_t id, uint32_t length) { index_.add(id, length); }
  // The table record's message_count.
  size_t count() const { return index_.count(); }
  uint32_t texts_size() const { return index_.texts_size(); }

  // The index, as it goes in front of the texts.
  std::string index_bytes() const;
  // What follows the texts: the fill byte, or nothing.
  std::string_view fill() const {
    return std::string_view("\0", static_cast<size_t>(fill_size(texts_size())));
  }

 private:
  MessageIndex index_;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_TABLE_BLOCK_H_
