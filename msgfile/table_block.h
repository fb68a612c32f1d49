// The index of the new table: one entry per text, in source order while the
// texts are written, sorted by identifier at the end.
#ifndef TOLVANE_MSGFILE_TABLE_BLOCK_H_
#define TOLVANE_MSGFILE_TABLE_BLOCK_H_

#include <cstdint>
#include <vector>

#include "msgfile/records.h"

namespace tolvane {

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

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_TABLE_BLOCK_H_
